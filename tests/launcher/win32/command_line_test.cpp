// The texts the Windows shell builds for the platform: the converter's
// command line, split again as the child's C runtime splits it, and the
// paths of the open dialog's file-name area.
#include <windows.h>

#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "launcher/win32/converter_process.h"
#include "launcher/win32/file_dialogs.h"
#include "launcher/win32/texts.h"

namespace tremcvt::win32 {
namespace {

std::vector<std::wstring> splitAsTheChildDoes(const std::wstring& line)
{
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> split(arguments, arguments + count);
    ::LocalFree(arguments);
    return split;
}

TEST(ConverterCommandLine, EveryArgumentArrivesAsItWas)
{
    const std::wstring program = L"C:\\Program Files\\tremcvt\\tremcvt.exe";
    const std::vector<std::vector<std::wstring>> cases = {
        {L"KAM", L"D:\\win\\090914\\09091411\\09091411.04"},
        {L"KAM", L"D:\\win data\\10030302.00", L"css=D:\\out dir\\k.wfdisc", L"data=D:\\arch"},
        {L"KAM", L"D:\\dir with blank\\", L"data=D:\\trailing\\\\"},  // backslashes before the closing quote
        {L"KAM", L"name \"quoted\" here", L"a\\\"b", L"tab\there"},
        {L"", L"css="},  // no station selected; CSS chosen with no path ever picked
    };
    for (const std::vector<std::wstring>& arguments : cases) {
        const std::wstring line = commandLine(program, arguments);
        std::vector<std::wstring> expected = {program};
        expected.insert(expected.end(), arguments.begin(), arguments.end());
        EXPECT_EQ(splitAsTheChildDoes(line), expected) << toAnsi(line);
    }
    // Plain values stay as they are, readable as the command line the operators know.
    EXPECT_EQ(commandLine(L"C:\\tremcvt\\tremcvt.exe", {L"KAM", L"D:\\win\\09091411.04"}),
              L"C:\\tremcvt\\tremcvt.exe KAM D:\\win\\09091411.04");
}

TEST(OpenDialogFileNames, OnePathOrADirectoryWithNames)
{
    const std::wstring one(L"C:\\win\\10030302.00\0", 20);
    EXPECT_EQ(fileNameAreaPaths(one.c_str()), (std::vector<std::wstring>{L"C:\\win\\10030302.00"}));
    const std::wstring several(L"C:\\win data\0" L"10030302.03\0" L"10030302.01\0", 36);
    EXPECT_EQ(fileNameAreaPaths(several.c_str()),
              (std::vector<std::wstring>{L"C:\\win data\\10030302.03", L"C:\\win data\\10030302.01"}));
    // A drive's root ends in its separator already.
    const std::wstring root(L"D:\\\0" L"a\0" L"b\0", 8);
    EXPECT_EQ(fileNameAreaPaths(root.c_str()), (std::vector<std::wstring>{L"D:\\a", L"D:\\b"}));
    EXPECT_TRUE(fileNameAreaPaths(L"").empty());
}

TEST(ResultsBoxText, EveryLineEndsInCarriageReturnAndLineFeed)
{
    EXPECT_EQ(editControlText("a\nb\r\nc\n"), L"a\r\nb\r\nc\r\n");
    EXPECT_EQ(editControlText("\n\n"), L"\r\n\r\n");
    EXPECT_EQ(editControlText(""), L"");
}

}  // namespace
}  // namespace tremcvt::win32
