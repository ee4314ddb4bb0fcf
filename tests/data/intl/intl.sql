-- International names and values: tables, columns and rows in German,
-- Polish, Greek and Japanese, and statements that fail on such names.
CREATE TABLE "Kunden" ("Nr" INT PRIMARY KEY, "Name" VARCHAR(60), "Straße" VARCHAR(60), "Größe" DECIMAL(5,2));
INSERT INTO "Kunden" VALUES (1, 'Jürgen Żółkiewski', 'Königsallee 12', 1.82);
INSERT INTO "Kunden" VALUES (2, 'Ålesund Øster', 'Grüne Straße 3', 1.75);
CREATE TABLE "Miasta" ("Nazwa" VARCHAR(40), "Województwo" VARCHAR(40));
INSERT INTO "Miasta" VALUES ('Łódź', 'łódzkie'), ('Gdańsk', 'pomorskie'), ('Kraków', 'małopolskie');
CREATE TABLE "Πελάτες" ("Όνομα" VARCHAR(40), "Πόλη" VARCHAR(40));
INSERT INTO "Πελάτες" VALUES ('Σωκράτης Παπαδόπουλος', 'Αθήνα');
CREATE TABLE "顧客" ("番号" INT, "氏名" VARCHAR(40), "都市" VARCHAR(40));
INSERT INTO "顧客" VALUES (1, '山田太郎', '東京'), (2, '鈴木花子', '大阪');
SELECT * FROM "Kunden";
SELECT "Nazwa", "Województwo" FROM "Miasta" ORDER BY "Nazwa";
SELECT "Όνομα", "Πόλη" FROM "Πελάτες";
SELECT "氏名", "都市" FROM "顧客" WHERE "番号" = 1;
SELECT "氏名", "都市" FROM "顧客" ORDER BY "番号";
SELECT "Nachname" FROM "Kunden";
SELECT * FROM "Müllabfuhr";
INSERT INTO "顧客" VALUES (3, '佐藤', '名古屋', 'überzählig');
SELECT "住所" FROM "顧客";
