-- Demo content, applied after scripts/schema.sql: rows in the tables the
-- Bridge server itself reads, a few addresses, and DEMO_SPALTEN with one
-- column of every kind the JSON results and the reports have to render.
-- UTF-8 file, applied with the UTF8 connection character set into a
-- WIN1252 database of SQL dialect 1.
--
-- Dialect 1 knows no TIME type; DATE and TIMESTAMP are the same type there,
-- a date with time of day. ZEITPUNKT shows the time part.

SET SQL DIALECT 1;
SET AUTODDL ON;

-- The rows the server reads itself: the data version shown by the status
-- page, the Mandant of the event forwarding, the template preview switch.
INSERT INTO FIRMENSTAMM (NR, NAME1, NAME2, STRASSE, PLZ, ORT, DATAVERS)
  VALUES (1, 'Gärtnerei Müller & Söhne', 'Demo-Mandant', 'Hauptstraße 12', '50667', 'Köln', 2026);
INSERT INTO T_KONFIGURATION (BEREICH, KATEGORIE, WERT) VALUES ('MANDANT', 'Webplattform', 'DEMO');
INSERT INTO T_KONFIGURATION (BEREICH, KATEGORIE, WERT) VALUES ('VORSCHAUDRUCKEN', 'System', 'NEIN');

INSERT INTO ADRESSEN (KENNZIFFER, NAME1, NAME2, STRASSE, PLZ, ORT, LAND, GRUPPE, GESPERRT, GEBURTSTAG, HINWEIS)
  VALUES (1001, 'Jürgen Weiß', NULL, 'Königsallee 5', '40212', 'Düsseldorf', 'Deutschland', 'KUNDE', 'N',
          '03.05.1971', 'Stammkunde seit 1998; bevorzugt Rückruf vormittags.');
INSERT INTO ADRESSEN (KENNZIFFER, NAME1, NAME2, STRASSE, PLZ, ORT, LAND, GRUPPE, GESPERRT, GEBURTSTAG, HINWEIS)
  VALUES (1002, 'Baumschule Öztürk GmbH', 'z. Hd. Frau Ähnlich', 'Am Mühlbach 3', '80331', 'München', 'Deutschland',
          'LIEFERANT', 'N', NULL, NULL);
INSERT INTO ADRESSEN (KENNZIFFER, NAME1, NAME2, STRASSE, PLZ, ORT, LAND, GRUPPE, GESPERRT, GEBURTSTAG, HINWEIS)
  VALUES (1003, 'Café "Zur Linde"', NULL, 'Lindenweg 1', '8001', 'Zürich', 'Schweiz', 'KUNDE', 'J', NULL,
          'Gesperrt: offene Posten über 500 €.');
SET GENERATOR ADRESSENNR TO 1003;
COMMIT;

CREATE TABLE DEMO_SPALTEN (
  NR        SMALLINT NOT NULL PRIMARY KEY,
  ANZAHL    INTEGER,
  BETRAG    NUMERIC(15,2),
  FAKTOR    DOUBLE PRECISION,
  DATUM     TIMESTAMP,
  ZEITPUNKT TIMESTAMP,
  NAME      VARCHAR(60),
  KUERZEL   CHAR(4),
  NOTIZ     BLOB SUB_TYPE 1,
  BILD      BLOB SUB_TYPE 0
);
COMMIT;

INSERT INTO DEMO_SPALTEN VALUES (1, 42, 1234.56, 0.125, '24.12.2025', '24.12.2025 18:30:15',
  'Grüße aus Köln', 'ÄÖÜß', 'Erste Zeile
Zweite Zeile mit Umlauten: äöü ÄÖÜ ß €', x'89504E470D0A1A0A');
INSERT INTO DEMO_SPALTEN VALUES (2, -7, -0.5, 3.14159265358979, '29.02.2024', '01.01.2026 00:00:00',
  'Straße "am Fluss" ; Weg', 'AB', '', x'00FF10');
INSERT INTO DEMO_SPALTEN (NR) VALUES (3);
COMMIT;
