-- The tables the system itself reads and writes, for the demo database and
-- the throwaway test databases. The customer's real database holds many
-- more; every other table is named by the web platform's SQL.
--
-- Format, kept simple so that two readers agree on it:
--   * SQL dialect 1 (double quotes delimit strings; date columns are
--     written TIMESTAMP, which is what DATE means there, without the
--     warning isql gives for DATE), database default character set WIN1252;
--   * plain statements only, each ended by ";" (no SET TERM, so no triggers
--     or procedures here), and "COMMIT;" where the work so far is committed;
--   * comments are "--" to the end of the line.
-- The test support (common/testing/TestDatabase.cpp) splits the file at
-- every ";" outside quotes and comments and runs the pieces in order; isql
-- runs it as it stands:
--   isql-fb -q -sql_dialect 1 -user SYSDBA -password quillfern \
--           -i scripts/schema.sql localhost/3050:/path/to/db.fdb
-- No rows are inserted: tests and the demo script add the rows they need.

-- Report templates, one row per template; HAUPTTEXT holds the template
-- bytes as stored by the editor.
CREATE TABLE VORLAGEN (
  NR            INTEGER NOT NULL,
  HAUPTTEXT     BLOB SUB_TYPE 0 SEGMENT SIZE 80,
  ART           VARCHAR(40),
  STANDARD      VARCHAR(1),
  NAME          VARCHAR(80),
  TEXT1         VARCHAR(255),
  TEXT2         VARCHAR(255),
  DRUCKER       VARCHAR(255),
  DRUCKERWAHL   VARCHAR(1),
  FOLGEFORMULAR VARCHAR(80),
  DATUM         TIMESTAMP,
  ANGEPASST     VARCHAR(1),
  BEREICH       VARCHAR(40),
  DOKTYP        VARCHAR(10),
  VERSTECKT     VARCHAR(1),
  DOKKATEGORIE  VARCHAR(40),
  GEAENDERTAM   TIMESTAMP,
  BEARBEITER    VARCHAR(40),
  PWD           VARCHAR(40),
  CONSTRAINT PK_VORLAGEN PRIMARY KEY (NR)
);
CREATE GENERATOR VORLAGENNR;
CREATE INDEX IX_VORLAGEN_SUCHE ON VORLAGEN (BEREICH, ART);

-- Settings kept in the database (area, category, value). No unique key:
-- the template lookup must see a duplicate as the database error it is.
CREATE TABLE T_KONFIGURATION (
  BEREICH   VARCHAR(60),
  KATEGORIE VARCHAR(60),
  WERT      VARCHAR(1000)
);

-- The company record; DATAVERS is the data version shown by the status page.
CREATE TABLE FIRMENSTAMM (
  NR       INTEGER NOT NULL,
  NAME1    VARCHAR(80),
  NAME2    VARCHAR(80),
  STRASSE  VARCHAR(80),
  PLZ      VARCHAR(10),
  ORT      VARCHAR(60),
  DATAVERS INTEGER,
  CONSTRAINT PK_FIRMENSTAMM PRIMARY KEY (NR)
);

-- Change logs: a row stays until the web platform has processed it.
CREATE TABLE CHANGELOG (
  NR         INTEGER NOT NULL,
  TABELLE    VARCHAR(60),
  SCHLUESSEL VARCHAR(60),
  AKTION     VARCHAR(10),
  ZEITPUNKT  TIMESTAMP,
  CONSTRAINT PK_CHANGELOG PRIMARY KEY (NR)
);
CREATE GENERATOR CHANGELOGNR;

CREATE TABLE FHT_CHANGELOG (
  NR         INTEGER NOT NULL,
  TABELLE    VARCHAR(60),
  SCHLUESSEL VARCHAR(60),
  AKTION     VARCHAR(10),
  ZEITPUNKT  TIMESTAMP,
  CONSTRAINT PK_FHT_CHANGELOG PRIMARY KEY (NR)
);
CREATE GENERATOR FHT_CHANGELOGNR;

-- The older log of deployments; unprocessed rows carry a negative NR.
CREATE TABLE FIS_LOG (
  NR        INTEGER NOT NULL,
  EINSATZ   INTEGER,
  AKTION    VARCHAR(10),
  ZEITPUNKT TIMESTAMP,
  CONSTRAINT PK_FIS_LOG PRIMARY KEY (NR)
);

-- Addresses (customers, suppliers); HINWEIS is a free-text note.
CREATE TABLE ADRESSEN (
  KENNZIFFER INTEGER NOT NULL,
  NAME1      VARCHAR(80),
  NAME2      VARCHAR(80),
  NAME3      VARCHAR(80),
  STRASSE    VARCHAR(80),
  PLZ        VARCHAR(10),
  ORT        VARCHAR(60),
  LAND       VARCHAR(40),
  GRUPPE     VARCHAR(20),
  GESPERRT   VARCHAR(1),
  GEBURTSTAG TIMESTAMP,
  HINWEIS    BLOB SUB_TYPE 1 SEGMENT SIZE 80,
  CONSTRAINT PK_ADRESSEN PRIMARY KEY (KENNZIFFER)
);
CREATE GENERATOR ADRESSENNR;

COMMIT;
