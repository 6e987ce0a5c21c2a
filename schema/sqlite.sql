-- The tremcvt archive schema for SQLite (served through the SQLite3 ODBC
-- driver). Apply it to a new database file with the sqlite3 CLI:
--   sqlite3 archive.db < schema/sqlite.sql

-- FILELIST catalogues the TRZ archive files (one row per file); SITECHAN
-- lists each station's channels with their sampling rates.

CREATE TABLE FILELIST (
    NINDEX   INTEGER PRIMARY KEY AUTOINCREMENT,
    STA      varchar(16),
    TBEGIN   double precision,
    TQTY     double precision,
    SPS      double precision,
    GAIN     integer,
    CPATH    varchar(1024),
    COMMENT  varchar(255),
    DATATYPE integer,
    CH       varchar(16),
    CREATER  varchar(32),
    LDDATE   timestamp,
    FOFF     integer,
    CALIB    double precision,
    CALPER   double precision,
    LCODE    varchar(8),
    TEND     double precision
);

CREATE TABLE SITECHAN (
    NINDEX    INTEGER PRIMARY KEY AUTOINCREMENT,
    STA       varchar(16),
    CHAN      varchar(16),
    NGROUP    integer,
    CHANINDEX integer,
    EDEPTH    double precision,
    LAT       double precision,
    LON       double precision,
    SPS       double precision,
    HANG      double precision,
    VANG      double precision,
    DESCR     varchar(255),
    CALIBFILE varchar(255),
    LDDATE    timestamp,
    LCODE     varchar(8)
);

CREATE TABLE SITE (
    NINDEX  INTEGER PRIMARY KEY AUTOINCREMENT,
    STA     varchar(16),
    NGROUPS integer,
    ELEV    double precision,
    LAT     double precision,
    LON     double precision,
    DESCR   varchar(255),
    LDDATE  timestamp,
    DNORTH  double precision,
    DEAST   double precision,
    REFSTA  varchar(16)
);

CREATE TABLE ORIGIN (
    EVENTID    integer,
    LAT        double precision,
    LON        double precision,
    EDEPTH     double precision,
    ORIGINTIME double precision,
    RMS        double precision,
    DH         double precision,
    DZ         double precision,
    COMMENT    varchar(255),
    LDDATE     timestamp,
    ORID       integer,
    MB         double precision,
    MBUNC      double precision,
    MS         double precision,
    MSUNC      double precision
);

CREATE TABLE NETWORKS (
    NINDEX  INTEGER PRIMARY KEY AUTOINCREMENT,
    NETNAME varchar(32),
    NETTYPE varchar(16),
    NETLIST varchar(1024),
    LDDATE  timestamp
);

CREATE TABLE LASTID (
    KEYNAME  varchar(32),
    KEYVALUE integer,
    LDDATE   timestamp
);

CREATE TABLE ID_SENS (
    ID_SENS     integer,
    SENS_UNITS  varchar(32),
    CALIB_UNITS varchar(32)
);

CREATE TABLE ID_FREQ (
    ID_FREQ    integer,
    FREQ_UNITS varchar(32)
);

CREATE TABLE GEOGRAPHIC_REGION (
    COD2    integer,
    REGION  integer,
    NAME    varchar(80),
    COMMENT varchar(255)
);

CREATE TABLE EVENTLIST (
    NINDEX     INTEGER PRIMARY KEY AUTOINCREMENT,
    STA        varchar(16),
    TBEGIN     double precision,
    EVENT_TIME double precision,
    LDDATE     timestamp
);

CREATE TABLE EARTHQUAKE (
    N        integer,
    NINYEAR  integer,
    REGION   integer,
    DATE_IDC double precision,
    DS       varchar(16),
    LAT      double precision,
    LON      double precision,
    DEPTH    double precision,
    MS       double precision,
    MPV      double precision,
    I0       double precision,
    COM      varchar(255),
    FEEL     varchar(255),
    RTIME    double precision,
    NSTA     integer,
    NMB      integer,
    NMS      integer,
    NCSEM    integer
);

CREATE TABLE CONTREG (
    LAT1 double precision,
    LON1 double precision,
    LAT2 double precision,
    LON2 double precision,
    NAME varchar(80),
    EPN  integer
);

CREATE TABLE CALIBRATION (
    NETWORK   varchar(16),
    LOCATION  varchar(8),
    STA       varchar(16),
    CHAN      varchar(16),
    STARTDATE double precision,
    ENDDATE   double precision,
    SENS      double precision,
    ID_SENS   integer,
    FREQ      double precision,
    ID_FREQ   integer,
    SAC       varchar(255),
    FAP       varchar(255),
    LDDATE    timestamp
);

CREATE TABLE ARRIVAL (
    NINDEX    INTEGER PRIMARY KEY AUTOINCREMENT,
    FLAG      integer,
    EVENTID   integer,
    NUMB      integer,
    STA       varchar(16),
    CHAN      varchar(16),
    IPHASE    varchar(16),
    ITIME     double precision,
    DELTIM    double precision,
    AZIMUTH   double precision,
    SLOW      double precision,
    EMA       double precision,
    RECT      double precision,
    FM        varchar(8),
    IM_EM     varchar(8),
    PER       double precision,
    RESIDUALS double precision,
    AMPL      double precision,
    LDDATE    timestamp,
    WGT       double precision,
    ARID      integer,
    MS        double precision,
    MB        double precision,
    AMPTIME   double precision,
    DIST      double precision,
    CODA      double precision,
    REGCLASS  varchar(16),
    MCODA     double precision,
    MPSP      double precision,
    MPLP      double precision,
    CHANTYPE  varchar(16),
    REMARK    varchar(255),
    AFILTYPE  varchar(16),
    PFILTYPE  varchar(16),
    MWA       double precision
);

CREATE INDEX FILELIST_STA_CH_TBEGIN ON FILELIST (STA,CH,TBEGIN);
CREATE INDEX FILELIST_CPATH ON FILELIST (CPATH);
-- Every catalogue operation first checks the connection with
-- "select max(TBEGIN) from FILELIST": an index keeps that from scanning the
-- whole catalogue.
CREATE INDEX FILELIST_TBEGIN ON FILELIST (TBEGIN);
-- A channel's latest file, newest first, without sorting the channel's
-- history; and the newest file of a creator, which tells a mounted archive
-- from an empty mount point, without reading the whole catalogue.
CREATE INDEX FILELIST_STA_CH_LDDATE ON FILELIST (STA,CH,LDDATE,TBEGIN);
CREATE INDEX FILELIST_CREATER_LDDATE ON FILELIST (CREATER,LDDATE,TBEGIN);
CREATE INDEX SITECHAN_STA_CHAN ON SITECHAN (STA,CHAN);

-- tsindex: the time-series index of the miniSEED (SDS) output, kept when
-- [DATABASE] TSINDEX=1; the table and indexes as EarthScope's mseedindex
-- creates them in SQLite, for the tools that read its index (ObsPy's
-- tsindex client among them). Times are text "YYYY-MM-DDThh:mm:ss[.ffffff]".
CREATE TABLE IF NOT EXISTS tsindex (
    network     TEXT,
    station     TEXT,
    location    TEXT,
    channel     TEXT,
    quality     TEXT,
    version     INTEGER,
    starttime   TEXT,
    endtime     TEXT,
    samplerate  REAL,
    filename    TEXT,
    byteoffset  INTEGER,
    bytes       INTEGER,
    hash        TEXT,
    timeindex   TEXT,
    timespans   TEXT,
    timerates   TEXT,
    format      TEXT,
    filemodtime TEXT,
    updated     TEXT,
    scanned     TEXT
);
CREATE INDEX IF NOT EXISTS tsindex_nslcse_idx ON tsindex (network,station,location,channel,starttime,endtime);
CREATE INDEX IF NOT EXISTS tsindex_filename_idx ON tsindex (filename);
CREATE INDEX IF NOT EXISTS tsindex_updated_idx ON tsindex (updated);
