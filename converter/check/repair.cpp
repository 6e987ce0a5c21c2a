#include "converter/check/repair.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "common/platform.h"
#include "converter/check/catalogue_reader.h"
#include "converter/check/catalogue_writer.h"
#include "converter/check/sds_check.h"
#include "converter/check/trz_check.h"
#include "converter/writers/output_file.h"
#include "converter/writers/trz_writer.h"

namespace tremcvt::check {
namespace {

namespace fs = std::filesystem;
using detail::OutputFile;

constexpr std::int64_t kSampleBytes = 4;

void print(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

// The findings a repair can settle for the row that owns the file.
bool repairable(const std::string& kind)
{
    return kind == "missing" || kind == "short" || kind == "tail" || kind == "header";
}

struct Outcome {
    std::vector<std::string> lines;  // what was changed, one line each
    int failures = 0;                // changes refused by the system or the database
};

bool cutFile(const std::string& path, std::int64_t length, std::FILE* err)
{
    OutputFile file(path, OutputFile::Mode::ExistingUpdate);
    if (!file.isOpen() || !file.truncate(length) || !file.close()) {
        print(err, "tremcvt_check: " + file.failure() + "\n");
        return false;
    }
    return true;
}

bool rewriteHeader(const std::string& path, const CatalogueRow& row, double length, std::FILE* err)
{
    std::string reason;
    if (writeTrzHeader(path, formatTrzHeader(row.begin, length, row.rate, row.station, row.channel), &reason) != 0) {
        print(err, "tremcvt_check: " + reason + "\n");
        return false;
    }
    return true;
}

bool rowChanged(ResultCode code, const CatalogueWriter& writer, const CatalogueRow& row, std::FILE* err)
{
    if (code == kResultOk) return true;
    print(err, "tremcvt_check: the row of " + row.path + " cannot be changed" +
                   (writer.diagnostics().empty() ? std::string() : ": " + writer.diagnostics()) + "\n");
    return false;
}

std::string lostLine(const CatalogueRow& row, double from, const std::string& how)
{
    return "lost " + row.path + ": " + utcText(from) + " to " + utcText(row.sampleEnd()) + how + " (convert again)";
}

// Settles the findings of one row, file first, then its row.
void repairRow(const CatalogueRow& row, const std::set<std::string>& kinds, const fs::path& root,
               CatalogueWriter& writer, std::FILE* err, Outcome& outcome)
{
    std::string generic = row.path;
    std::replace(generic.begin(), generic.end(), '\\', '/');
    const std::string path = (root / fs::path(generic)).string();
    const bool trzHeader = row.dataOffset == static_cast<std::int32_t>(kTrzHeaderSize);
    const auto failed = [&outcome] { ++outcome.failures; };

    if (kinds.count("missing")) {
        if (!rowChanged(writer.remove(row), writer, row, err)) return failed();
        outcome.lines.push_back(lostLine(row, row.begin, ", the file is missing and its row deleted"));
        return;
    }
    if (kinds.count("short")) {
        std::error_code error;
        const auto size = static_cast<std::int64_t>(fs::file_size(path, error));
        if (error) {
            print(err, "tremcvt_check: " + path + ": " + error.message() + "\n");
            return failed();
        }
        const std::int64_t whole = std::max<std::int64_t>(0, (size - row.dataOffset) / kSampleBytes);
        const std::int64_t held = size < row.dataOffset ? 0 : representableSamples(whole, row.rate);
        const double from = row.rate > 0.0 ? row.begin + static_cast<double>(held) / row.rate : row.begin;
        if (held == 0) {
            // Nothing of the row is left: the file goes, then its row.
            const FileCallResult removed = removeFile(path);
            if (!removed.ok) {
                print(err, "tremcvt_check: " + removed.reason + "\n");
                return failed();
            }
            if (!rowChanged(writer.remove(row), writer, row, err)) return failed();
            outcome.lines.push_back(lostLine(row, from, ", no whole sample was left: file and row deleted"));
            return;
        }
        if (!cutFile(path, row.dataOffset + kSampleBytes * held, err)) return failed();
        if (trzHeader && !rewriteHeader(path, row, cataloguedLength(held, row.rate), err)) return failed();
        if (!rowChanged(writer.cutBack(row, held), writer, row, err)) return failed();
        outcome.lines.push_back(lostLine(row, from, ""));
        return;
    }
    if (kinds.count("tail")) {
        if (!cutFile(path, row.expectedSize(), err)) return failed();
        outcome.lines.push_back("cut " + row.path + ": the stray bytes beyond the " + std::to_string(row.samples()) +
                                " samples of its row removed");
    }
    if (kinds.count("header")) {
        if (!trzHeader || !rewriteHeader(path, row, row.length, err)) return failed();
        outcome.lines.push_back("rewritten " + row.path + ": the header rewritten from its row");
    }
}

int summarise(const Outcome& outcome, const std::vector<Finding>& left, const std::string& counted, std::FILE* out)
{
    std::string text;
    for (const std::string& line : outcome.lines) text += line + "\n";
    for (const Finding& finding : left) text += formatFinding(finding) + "\n";
    std::map<std::string, int> byKind;
    for (const Finding& finding : left) ++byKind[finding.kind];
    std::string kinds;
    for (const auto& [kind, count] : byKind) kinds += (kinds.empty() ? "" : ", ") + std::to_string(count) + " " + kind;
    if (outcome.lines.empty() && left.empty())
        text += "Summary: nothing to repair, " + counted + "\n";
    else
        text += "Summary: " + std::to_string(outcome.lines.size()) + " repaired, " + std::to_string(left.size()) +
                " left unrepaired" + (kinds.empty() ? "" : " (" + kinds + ")") + " in " + counted + "\n";
    print(out, text);
    return left.empty() && outcome.failures == 0 ? kCheckConsistent : kCheckInconsistent;
}

std::string readFailure(const CatalogueReadResult& catalogue)
{
    return std::string("tremcvt_check: ") +
           (catalogue.status == CatalogueReadStatus::kNoConnection ? "no connection to the data source"
                                                                   : "the catalogue FILELIST cannot be read") +
           (catalogue.reason.empty() ? "" : ": " + catalogue.reason) + "\n";
}

}  // namespace

int repairTrzArchive(const CheckOptions& options, const ConverterSettings& settings, std::FILE* out, std::FILE* err)
{
    CatalogueWriter writer(settings);
    CatalogueReadResult catalogue = readCatalogue(settings);
    if (catalogue.status != CatalogueReadStatus::kRead || !writer.connect()) {
        print(err, catalogue.status != CatalogueReadStatus::kRead
                       ? readFailure(catalogue)
                       : "tremcvt_check: no connection to the data source: " + writer.diagnostics() + "\n");
        return kCheckNoConnection;
    }
    const fs::path root(settings.data.str());
    VerifyTotals totals;
    std::vector<Finding> findings = verifyTrzArchive(catalogue.rows, root.string(), options.selection, false, totals);

    // The selected rows by path; a path that several rows name is left alone.
    std::map<std::string, std::vector<const CatalogueRow*>> rowsByPath;
    for (const CatalogueRow* row : selectRows(catalogue.rows, options.selection)) rowsByPath[row->path].push_back(row);
    std::map<std::string, std::set<std::string>> kindsByPath;
    for (const Finding& finding : findings)
        if (repairable(finding.kind)) kindsByPath[finding.file].insert(finding.kind);
    Outcome outcome;
    for (const auto& [path, kinds] : kindsByPath) {
        const auto rows = rowsByPath.find(path);
        if (rows == rowsByPath.end() || rows->second.size() != 1) continue;
        repairRow(*rows->second.front(), kinds, root, writer, err, outcome);
    }

    // What is left: the archive verified again after the changes.
    if (!outcome.lines.empty()) {
        catalogue = readCatalogue(settings);
        if (catalogue.status != CatalogueReadStatus::kRead) {
            print(err, readFailure(catalogue));
            return kCheckNoConnection;
        }
        totals = VerifyTotals();
        findings = verifyTrzArchive(catalogue.rows, root.string(), options.selection, false, totals);
    }
    return summarise(outcome, findings,
                     std::to_string(totals.rows) + " catalogue rows and " + std::to_string(totals.filesSeen) +
                         " files below " + root.string(),
                     out);
}

int repairSdsTree(const CheckOptions& options, std::FILE* out, std::FILE* err)
{
    const SdsScan scan = scanSdsTree(options.sds, options.selection, false);
    Outcome outcome;
    std::vector<Finding> left;
    for (const Finding& finding : scan.findings) {
        if (finding.kind != "leftover") {
            left.push_back(finding);
            continue;
        }
        const FileCallResult removed = removeFile((fs::path(options.sds) / fs::path(finding.file)).string());
        if (!removed.ok) {
            print(err, "tremcvt_check: " + removed.reason + "\n");
            left.push_back(finding);
            continue;
        }
        outcome.lines.push_back("removed " + finding.file + ": temporary file of an interrupted store");
    }
    return summarise(outcome, left,
                     std::to_string(scan.dayFiles) + " day files, " + std::to_string(scan.records) + " records below " +
                         options.sds,
                     out);
}

}  // namespace tremcvt::check
