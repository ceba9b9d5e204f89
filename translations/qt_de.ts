<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>QFileDialog</name>
    <message>
        <source>Select the XPlane folder</source>
        <translation>X-Plane-Ordner auswählen</translation>
    </message>
</context>
<context>
    <name>QMessageBox</name>
    <message>
        <source>Invalid Folder</source>
        <translation>Ungültiger Ordner</translation>
    </message>
    <message>
        <source>Oops...this doesn&apos;t seem to be a XPlane installation folder.

Try again</source>
        <translation>Hoppla … das scheint kein X-Plane-Installationsordner zu sein.

Bitte versuchen Sie es erneut</translation>
    </message>
    <message>
        <source>Auto-dectection failed</source>
        <translation>Automatische Erkennung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Unable to determine XPlane installation path.

Please select the XPlane folder in the next dialog</source>
        <translation>Der X-Plane-Installationspfad konnte nicht ermittelt werden.

Bitte wählen Sie im nächsten Dialog den X-Plane-Ordner aus</translation>
    </message>
    <message>
        <source>Dectection failed</source>
        <translation>Erkennung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Unable to determine XPlane installation path.

Application cannot continue further.</source>
        <translation>Der X-Plane-Installationspfad konnte nicht ermittelt werden.

Die Anwendung kann nicht fortfahren.</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Tarrowmere</source>
        <translation>Tarrowmere</translation>
    </message>
    <message>
        <source>KOV Vazuv</source>
        <translation>KOV Vazuv</translation>
    </message>
</context>
<context>
    <name>QSplashScreen</name>
    <message>
        <source>Starting...</source>
        <translation>Wird gestartet …</translation>
    </message>
    <message>
        <source>Loading saved configuration...</source>
        <translation>Gespeicherte Einstellungen werden geladen …</translation>
    </message>
    <message>
        <source>Setting up application language...</source>
        <translation>Sprache der Anwendung wird eingerichtet …</translation>
    </message>
    <message>
        <source>Loading fonts...</source>
        <translation>Schriftarten werden geladen …</translation>
    </message>
    <message>
        <source>Auto-detecting X-Plane installation...1</source>
        <translation>X-Plane-Installation wird automatisch gesucht … 1</translation>
    </message>
    <message>
        <source>Auto-detecting X-Plane installation...2</source>
        <translation>X-Plane-Installation wird automatisch gesucht … 2</translation>
    </message>
    <message>
        <source>Auto-detecting X-Plane installation...3</source>
        <translation>X-Plane-Installation wird automatisch gesucht … 3</translation>
    </message>
    <message>
        <source>Auto-detecting X-Plane installation...4</source>
        <translation>X-Plane-Installation wird automatisch gesucht … 4</translation>
    </message>
    <message>
        <source>Manual-detecting X-Plane installation...</source>
        <translation>X-Plane-Installation manuell auswählen …</translation>
    </message>
    <message>
        <source>Initializing...</source>
        <translation>Wird initialisiert …</translation>
    </message>
    <message>
        <source>Creating UI...</source>
        <translation>Oberfläche wird aufgebaut …</translation>
    </message>
</context>
</TS>
