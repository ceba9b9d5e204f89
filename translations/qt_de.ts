<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>KOV::Components::Carousel</name>
    <message>
        <source>Previous picture</source>
        <translation>Vorheriges Bild</translation>
    </message>
    <message>
        <source>Next picture</source>
        <translation>Nächstes Bild</translation>
    </message>
</context>
<context>
    <name>KOV::Components::FileSelector</name>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
</context>
<context>
    <name>KOV::Components::WindowControl</name>
    <message>
        <source>Minimize</source>
        <translation>Minimieren</translation>
    </message>
    <message>
        <source>Maximize</source>
        <translation>Maximieren</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Wiederherstellen</translation>
    </message>
</context>
<context>
    <name>KOV::Controllers::CatalogueReader</name>
    <message>
        <source>Not available</source>
        <translation>Nicht verfügbar</translation>
    </message>
</context>
<context>
    <name>KOV::Controllers::CatalogueTrust</name>
    <message>
        <source>The catalogue is older than the one already installed from.</source>
        <translation>Der Katalog ist älter als der, aus dem bereits installiert wurde.</translation>
    </message>
    <message>
        <source>The catalogue expired on %1.</source>
        <translation>Der Katalog ist am %1 abgelaufen.</translation>
    </message>
    <message>
        <source>The catalogue&apos;s signature is not valid.</source>
        <translation>Die Signatur des Katalogs ist nicht gültig.</translation>
    </message>
</context>
<context>
    <name>KOV::Controllers::PackageController</name>
    <message>
        <source>The catalogue could not be read</source>
        <translation>Der Katalog konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>This archive has no checksum in the catalogue.</source>
        <translation>Für dieses Archiv steht keine Prüfsumme im Katalog.</translation>
    </message>
    <message>
        <source>it failed</source>
        <translation>es ist fehlgeschlagen</translation>
    </message>
    <message>
        <source>Version %1: %2</source>
        <translation>Version %1: %2</translation>
    </message>
</context>
<context>
    <name>KOV::Controllers::PackageInstaller</name>
    <message>
        <source>Cannot write to %1</source>
        <translation>%1 ist nicht beschreibbar</translation>
    </message>
    <message>
        <source>The archive is damaged</source>
        <translation>Das Archiv ist beschädigt</translation>
    </message>
    <message>
        <source>7-Zip was not found</source>
        <translation>7-Zip wurde nicht gefunden</translation>
    </message>
    <message>
        <source>The archive holds a link that leads outside its folder: %1</source>
        <translation>Das Archiv enthält eine Verknüpfung, die aus seinem Ordner hinausführt: %1</translation>
    </message>
    <message>
        <source>Not enough disk space in %1: only %2 free.</source>
        <translation>Nicht genügend Speicherplatz in %1: nur %2 frei.</translation>
    </message>
    <message>
        <source>Not enough disk space in %1: %2 needed, %3 free.</source>
        <translation>Nicht genügend Speicherplatz in %1: %2 benötigt, %3 frei.</translation>
    </message>
</context>
<context>
    <name>KOV::Controllers::PackagePaths</name>
    <message>
        <source>The package&apos;s folder lies outside the X-Plane folder: %1</source>
        <translation>Der Ordner des Pakets liegt außerhalb des X-Plane-Ordners: %1</translation>
    </message>
    <message>
        <source>The package names a path outside the X-Plane folder: %1</source>
        <translation>Das Paket nennt einen Pfad außerhalb des X-Plane-Ordners: %1</translation>
    </message>
    <message>
        <source>The package wants to remove %1, which holds files that are not its own.</source>
        <translation>Das Paket will %1 entfernen; dort liegen Dateien, die nicht zu ihm gehören.</translation>
    </message>
    <message>
        <source>%1 leads outside the X-Plane folder through a link.</source>
        <translation>%1 führt über eine Verknüpfung aus dem X-Plane-Ordner hinaus.</translation>
    </message>
</context>
<context>
    <name>KOV::Dialogs::DiskSettingsWidget</name>
    <message>
        <source>Cache</source>
        <translation>Cache</translation>
    </message>
    <message>
        <source>Backup</source>
        <translation>Sicherung</translation>
    </message>
    <message>
        <source>Preserve</source>
        <translation>Aufbewahrt</translation>
    </message>
</context>
<context>
    <name>KOV::Dialogs::GeneralSettingsWidget</name>
    <message>
        <source>Language : </source>
        <translation>Sprache: </translation>
    </message>
    <message>
        <source>English</source>
        <translation>Englisch</translation>
    </message>
    <message>
        <source>German</source>
        <translation>Deutsch</translation>
    </message>
    <message>
        <source>Show search and filters</source>
        <translation>Suche und Filter anzeigen</translation>
    </message>
</context>
<context>
    <name>KOV::Dialogs::PathSettingsWidget</name>
    <message>
        <source>X-Plane</source>
        <translation>X-Plane</translation>
    </message>
    <message>
        <source>Cache</source>
        <translation>Cache</translation>
    </message>
    <message>
        <source>Preserve</source>
        <translation>Aufbewahrt</translation>
    </message>
    <message>
        <source>Backup</source>
        <translation>Sicherung</translation>
    </message>
</context>
<context>
    <name>KOV::Dialogs::SettingsDialog</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Paths</source>
        <translation>Pfade</translation>
    </message>
    <message>
        <source>Disk Usage</source>
        <translation>Speicherplatz</translation>
    </message>
    <message>
        <source>Installation in progress</source>
        <translation>Installation läuft</translation>
    </message>
    <message>
        <source>An installation is in progress.

Apply this change after it has finished.</source>
        <translation>Gerade läuft eine Installation.

Bitte übernehmen Sie diese Änderung erst, wenn sie abgeschlossen ist.</translation>
    </message>
    <message>
        <source>X-Plane path has been changed

Proceeding will reset cache &amp; databases. Continue ?</source>
        <translation>Der X-Plane-Pfad wurde geändert.

Dabei werden Zwischenspeicher und Datenbanken zurückgesetzt. Fortfahren?</translation>
    </message>
    <message>
        <source>Language has been changed

Application restart neeeded. Continue ?</source>
        <translation>Die Sprache wurde geändert.

Die Anwendung muss neu gestartet werden. Fortfahren?</translation>
    </message>
    <message>
        <source>Application will now close. Restart the application for new setting to take effect.</source>
        <translation>Die Anwendung wird jetzt beendet. Starten Sie sie neu, damit die neuen Einstellungen wirksam werden.</translation>
    </message>
    <message>
        <source>Folder not changed</source>
        <translation>Ordner nicht geändert</translation>
    </message>
    <message>
        <source>The saved files in %1 could not be moved to %2. The folder was not changed.</source>
        <translation>Die gesicherten Dateien in %1 konnten nicht nach %2 verschoben werden. Der Ordner wurde nicht geändert.</translation>
    </message>
    <message>
        <source>The record of installed packages is rebuilt from their version files at the next start; what is known of their files and of unfinished downloads is kept.</source>
        <translation>Die Liste der installierten Pakete wird beim nächsten Start aus ihren Versionsdateien neu aufgebaut; was über ihre Dateien und unvollständige Downloads bekannt ist, bleibt erhalten.</translation>
    </message>
</context>
<context>
    <name>KOV::Managers::DownloadManager</name>
    <message>
        <source>The server compressed the archive in transit.</source>
        <translation>Der Server hat das Archiv bei der Übertragung komprimiert.</translation>
    </message>
    <message>
        <source>The file is larger than %1.</source>
        <translation>Die Datei ist größer als %1.</translation>
    </message>
    <message>
        <source>the server sent less than %1 a second for %2 seconds</source>
        <translation>der Server hat %2 Sekunden lang weniger als %1 pro Sekunde gesendet</translation>
    </message>
    <message>
        <source>the server sent another part of the file than was asked for</source>
        <translation>der Server hat einen anderen Teil der Datei gesendet als angefragt</translation>
    </message>
    <message>
        <source>the server answered %1 %2</source>
        <translation>der Server antwortete %1 %2</translation>
    </message>
    <message>
        <source>the server sent nothing for too long</source>
        <translation>der Server hat zu lange nichts gesendet</translation>
    </message>
    <message>
        <source>the transfer broke off (%1)</source>
        <translation>die Übertragung brach ab (%1)</translation>
    </message>
</context>
<context>
    <name>KOV::Models::Download</name>
    <message>
        <source>Server Error</source>
        <translation>Serverfehler</translation>
    </message>
    <message>
        <source>Checksum mismatch</source>
        <translation>Prüfsumme stimmt nicht überein</translation>
    </message>
    <message>
        <source>Link</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>This link is not supported: %1</source>
        <translation>Dieser Link wird nicht unterstützt: %1</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::ApplicationWindow</name>
    <message>
        <source>Installation in progress</source>
        <translation>Installation läuft</translation>
    </message>
    <message>
        <source>There is a installation in progress.

Try closing the application after the installation is completed</source>
        <translation>Gerade läuft eine Installation.

Bitte schließen Sie die Anwendung erst, wenn die Installation abgeschlossen ist</translation>
    </message>
    <message>
        <source>Package records rebuilt</source>
        <translation>Paketverzeichnis neu aufgebaut</translation>
    </message>
    <message>
        <source>The record of installed packages could not be read. It was rebuilt from the X-Plane folder; the unreadable file was kept as %1.</source>
        <translation>Das Verzeichnis der installierten Pakete konnte nicht gelesen werden. Es wurde aus dem X-Plane-Ordner neu aufgebaut; die unlesbare Datei wurde als %1 aufbewahrt.</translation>
    </message>
    <message>
        <source>%1 could not be uninstalled; nothing was removed.</source>
        <translation>%1 konnte nicht deinstalliert werden; es wurde nichts entfernt.</translation>
    </message>
    <message>
        <source>These files could not be removed:</source>
        <translation>Diese Dateien konnten nicht entfernt werden:</translation>
    </message>
    <message>
        <source>Uninstall Error</source>
        <translation>Fehler bei der Deinstallation</translation>
    </message>
    <message>
        <source>These files belong to %1. Overwrite them?</source>
        <translation>Diese Dateien gehören zu %1. Überschreiben?</translation>
    </message>
    <message>
        <source>Downloads running</source>
        <translation>Downloads laufen</translation>
    </message>
    <message>
        <source>Downloads are still running. Quit anyway?</source>
        <translation>Es laufen noch Downloads. Trotzdem beenden?</translation>
    </message>
    <message>
        <source>The record of installed packages, %1, is in use by another program. Close that program and start KovVazuv again; nothing was changed.</source>
        <translation>Die Aufzeichnung der installierten Pakete, %1, wird von einem anderen Programm verwendet. Schließen Sie dieses Programm und starten Sie KovVazuv erneut; es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>The record of installed packages, %1, cannot be used: %2. Nothing was changed.</source>
        <translation>Die Aufzeichnung der installierten Pakete, %1, kann nicht verwendet werden: %2. Es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>Package records unavailable</source>
        <translation>Paketaufzeichnung nicht verfügbar</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::InstallConfirmation</name>
    <message>
        <source>Change Log</source>
        <translation>Änderungen</translation>
    </message>
    <message>
        <source>Dependencies Error</source>
        <translation>Abhängigkeitsfehler</translation>
    </message>
    <message>
        <source>This package cannot be installed.

One or more Dependencies for this package are not available to install</source>
        <translation>Dieses Paket kann nicht installiert werden.

Eine oder mehrere Abhängigkeiten dieses Pakets stehen nicht zur Installation bereit</translation>
    </message>
    <message>
        <source>This package is dependent on following packages and will be installed if not already installed or upgraded if outdated along with this package

</source>
        <translation>Dieses Paket benötigt die folgenden Pakete. Sie werden zusammen mit diesem Paket installiert, falls sie fehlen, oder aktualisiert, falls sie veraltet sind:

</translation>
    </message>
    <message>
        <source>
Continue?</source>
        <translation>
Fortfahren?</translation>
    </message>
    <message>
        <source>Install Package</source>
        <translation>Paket installieren</translation>
    </message>
    <message>
        <source>Install Error</source>
        <translation>Installationsfehler</translation>
    </message>
    <message>
        <source>Installation failed for package : </source>
        <translation>Installation fehlgeschlagen für Paket: </translation>
    </message>
    <message>
        <source>Download Error</source>
        <translation>Downloadfehler</translation>
    </message>
    <message>
        <source>Downloading failed for package : </source>
        <translation>Download fehlgeschlagen für Paket: </translation>
    </message>
    <message>
        <source>Dependency Error</source>
        <translation>Abhängigkeitsfehler</translation>
    </message>
    <message>
        <source>Unable to install one or more dependency for package : </source>
        <translation>Eine oder mehrere Abhängigkeiten konnten nicht installiert werden für Paket: </translation>
    </message>
    <message>
        <source>These packages will be updated:</source>
        <translation>Diese Pakete werden aktualisiert:</translation>
    </message>
    <message>
        <source>These packages come with them:</source>
        <translation>Diese Pakete kommen mit:</translation>
    </message>
    <message>
        <source>Download size: %1</source>
        <translation>Downloadgröße: %1</translation>
    </message>
    <message>
        <source>Download size: at least %1</source>
        <translation>Downloadgröße: mindestens %1</translation>
    </message>
    <message>
        <source>Update all</source>
        <translation>Alle aktualisieren</translation>
    </message>
    <message>
        <source>Update %1 from %2 to %3?</source>
        <translation>%1 von %2 auf %3 aktualisieren?</translation>
    </message>
    <message>
        <source>%1 %2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>%1 %2 (update from %3)</source>
        <translation>%1 %2 (Aktualisierung von %3)</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::PackageContainer</name>
    <message>
        <source>No package matches &quot;%1&quot;.</source>
        <translation>Kein Paket passt zu „%1“.</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::PackageDetailOldVersionsList</name>
    <message>
        <source>Installed</source>
        <translation>Installiert</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Install Package</source>
        <translation>Paket installieren</translation>
    </message>
    <message>
        <source>Install older version?

Following extensions depend on newer version and may stop working

</source>
        <translation>Ältere Version installieren?

Folgende Erweiterungen hängen von der neueren Version ab und funktionieren womöglich nicht mehr

</translation>
    </message>
    <message>
        <source>No older versions.</source>
        <translation>Keine älteren Versionen.</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::PackageDetailTitleBar</name>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Installed</source>
        <translation>Installiert</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Deinstallieren</translation>
    </message>
    <message>
        <source>Get Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Handbuch</translation>
    </message>
    <message>
        <source>from this system</source>
        <translation>von diesem System entfernen?</translation>
    </message>
    <message>
        <source>Uninstall Package</source>
        <translation>Paket deinstallieren</translation>
    </message>
    <message>
        <source>Verify</source>
        <translation>Prüfen</translation>
    </message>
    <message>
        <source>All files of %1 are as they were installed.</source>
        <translation>Alle Dateien von %1 sind so, wie sie installiert wurden.</translation>
    </message>
    <message>
        <source>Some files of %1 are not as they were installed.</source>
        <translation>Einige Dateien von %1 sind nicht mehr so, wie sie installiert wurden.</translation>
    </message>
    <message>
        <source>Missing:</source>
        <translation>Fehlt:</translation>
    </message>
    <message>
        <source>Changed:</source>
        <translation>Geändert:</translation>
    </message>
    <message>
        <source>Your own files, changed as expected:</source>
        <translation>Ihre eigenen Dateien, wie erwartet geändert:</translation>
    </message>
    <message>
        <source>Repair</source>
        <translation>Reparieren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>%1 has no record of its installed files to compare with.</source>
        <translation>Für %1 gibt es keine Aufzeichnung der installierten Dateien, mit der verglichen werden könnte.</translation>
    </message>
    <message>
        <source>

Following dependent extensions will also be uninstalled

</source>
        <translation>

Folgende abhängige Erweiterungen werden ebenfalls deinstalliert

</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::PackageDetailWidget</name>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Beschreibung</translation>
    </message>
    <message>
        <source>Change log</source>
        <translation>Änderungen</translation>
    </message>
    <message>
        <source>Old versions</source>
        <translation>Ältere Versionen</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::PackageProcessingWidget</name>
    <message>
        <source>No items found</source>
        <translation>Keine Einträge gefunden</translation>
    </message>
    <message>
        <source>Try again</source>
        <translation>Erneut versuchen</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::PackageSidebar</name>
    <message>
        <source>Category</source>
        <translation>Kategorie</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Art</translation>
    </message>
    <message>
        <source>Free</source>
        <translation>Kostenlos</translation>
    </message>
    <message>
        <source>Paid</source>
        <translation>Kostenpflichtig</translation>
    </message>
    <message>
        <source>All</source>
        <translation>Alle</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Installed</source>
        <translation>Installiert</translation>
    </message>
    <message>
        <source>Updates available</source>
        <translation>Updates verfügbar</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::PackageWidget</name>
    <message>
        <source>Installed : </source>
        <translation>Installiert: </translation>
    </message>
    <message>
        <source>Available : </source>
        <translation>Verfügbar: </translation>
    </message>
    <message>
        <source>More Detail</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Installed</source>
        <translation>Installiert</translation>
    </message>
    <message>
        <source>Preparing</source>
        <translation>Wird vorbereitet</translation>
    </message>
    <message>
        <source>Downloading</source>
        <translation>Wird geladen</translation>
    </message>
    <message>
        <source>Installing</source>
        <translation>Wird installiert</translation>
    </message>
    <message>
        <source>Uninstalling</source>
        <translation>Wird entfernt</translation>
    </message>
    <message>
        <source>Install Error</source>
        <translation>Installationsfehler</translation>
    </message>
    <message>
        <source>Download Error</source>
        <translation>Downloadfehler</translation>
    </message>
    <message>
        <source>Dependency Error</source>
        <translation>Abhängigkeitsfehler</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Erneut versuchen</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::ProgressLabel</name>
    <message>
        <source>Preparing</source>
        <translation>Wird vorbereitet</translation>
    </message>
    <message>
        <source>Removing files</source>
        <translation>Dateien werden entfernt</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::ProgressText</name>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>%1/s</source>
        <translation>%1/s</translation>
    </message>
    <message>
        <source>Saving your files</source>
        <translation>Ihre Dateien werden gesichert</translation>
    </message>
    <message>
        <source>Unpacking</source>
        <translation>Wird entpackt</translation>
    </message>
    <message>
        <source>Putting files in place</source>
        <translation>Dateien werden eingesetzt</translation>
    </message>
    <message>
        <source>Cleaning up</source>
        <translation>Wird aufgeräumt</translation>
    </message>
    <message>
        <source>Checking the archive</source>
        <translation>Archiv wird geprüft</translation>
    </message>
    <message>
        <source>%1 s left</source>
        <translation>noch %1 s</translation>
    </message>
    <message>
        <source>%1 min left</source>
        <translation>noch %1 min</translation>
    </message>
    <message>
        <source>%1 h %2 min left</source>
        <translation>noch %1 h %2 min</translation>
    </message>
</context>
<context>
    <name>KOV::Ui::TopBar</name>
    <message>
        <source>[Local Repository]</source>
        <translation>[Lokales Verzeichnis]</translation>
    </message>
    <message>
        <source>Run X-Plane</source>
        <translation>X-Plane starten</translation>
    </message>
    <message>
        <source>eg. Jetways</source>
        <translation>z. B. Fluggastbrücken</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source>An installation is in progress.

Try the reset again after it has finished.</source>
        <translation>Gerade läuft eine Installation.

Bitte setzen Sie erst zurück, wenn sie abgeschlossen ist.</translation>
    </message>
    <message>
        <source>This action will reset databases and application prefrences.

Continue?</source>
        <translation>Damit werden die Datenbanken und die Einstellungen der Anwendung zurückgesetzt.

Fortfahren?</translation>
    </message>
    <message>
        <source>Update all (%1)</source>
        <translation>Alle aktualisieren (%1)</translation>
    </message>
    <message>
        <source>Search (Ctrl+F)</source>
        <translation>Suchen (Strg+F)</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
</context>
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
    <message>
        <source>Oops...this doesn&apos;t seem to be a XPlane installation folder.</source>
        <translation>Hoppla … das scheint kein X-Plane-Installationsordner zu sein.</translation>
    </message>
    <message>
        <source>KovVazuv is already running.</source>
        <translation>KovVazuv läuft bereits.</translation>
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
