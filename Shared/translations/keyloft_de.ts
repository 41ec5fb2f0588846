<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Localizable</name>
    <message>
        <source>Diagnostic script failed.</source>
        <translation>Das Diagnoseskript ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>A Ruby interpreter is required to perform your request, however Ruby cannot be found on this system. Please contact Vantlesoft for assistance.</source>
        <translation>Für diese Anfrage wird ein Ruby-Interpreter benötigt, Ruby wurde auf diesem System jedoch nicht gefunden. Bitte wenden Sie sich an Vantlesoft.</translation>
    </message>
    <message>
        <source>Error Creating Email</source>
        <translation>Fehler beim Erstellen der E-Mail</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>No mail program is set up for writing e-mail on this computer.</source>
        <translation>Auf diesem Computer ist kein E-Mail-Programm zum Schreiben von E-Mails eingerichtet.</translation>
    </message>
    <message>
        <source>The report could not be read to attach it.</source>
        <translation>Der Bericht konnte zum Anhängen nicht gelesen werden.</translation>
    </message>
    <message>
        <source>Your mail program could not be started.</source>
        <translation>Ihr E-Mail-Programm konnte nicht gestartet werden.</translation>
    </message>
    <message>
        <source>Please drag and drop the report icon into a new message in your mail program and send it to %@. You can also click the icon to find the report in your file manager.</source>
        <translation>Bitte ziehen Sie das Berichtssymbol in eine neue Nachricht in Ihrem E-Mail-Programm und senden Sie sie an %@. Sie können auch auf das Symbol klicken, um den Bericht in Ihrem Dateimanager zu finden.</translation>
    </message>
    <message>
        <source>Check that the new message in your mail program has the report attached; if it does not, drag the report icon into the message.</source>
        <translation>Prüfen Sie, ob der Bericht an die neue Nachricht in Ihrem E-Mail-Programm angehängt ist; falls nicht, ziehen Sie das Berichtssymbol in die Nachricht.</translation>
    </message>
    <message>
        <source>Your mail program (%@) cannot take attachments from other programs, so the new message has no report attached: drag the report icon into the message.</source>
        <translation>Ihr E-Mail-Programm (%@) kann keine Anhänge von anderen Programmen übernehmen, daher ist der Bericht nicht an die neue Nachricht angehängt: Ziehen Sie das Berichtssymbol in die Nachricht.</translation>
    </message>
    <message numerus="yes">
        <source>%llu bytes</source>
        <translation>
            <numerusform>%llu Byte</numerusform>
            <numerusform>%llu Byte</numerusform>
        </translation>
    </message>
    <message>
        <source>%llu KB</source>
        <translation>%llu KB</translation>
    </message>
    <message>
        <source>%.1f MB</source>
        <translation>%.1f MB</translation>
    </message>
    <message>
        <source>%.1f GB</source>
        <translation>%.1f GB</translation>
    </message>
    <message>
        <source>Please enter your password.

Folder permissions will be reset. </source>
        <translation>Bitte geben Sie Ihr Passwort ein.

Die Ordnerberechtigungen werden zurückgesetzt. </translation>
    </message>
    <message>
        <source>The folder permissions have been reset successfully.</source>
        <translation>Die Ordnerberechtigungen wurden erfolgreich zurückgesetzt.</translation>
    </message>
    <message>
        <source>Please restart Keyloft.</source>
        <translation>Bitte starten Sie Keyloft neu.</translation>
    </message>
    <message>
        <source>Please enter your password.

Extended Attributes will be repaired. </source>
        <translation>Bitte geben Sie Ihr Passwort ein.

Die erweiterten Attribute werden repariert. </translation>
    </message>
    <message>
        <source>The extended attributes have been repaired successfully.</source>
        <translation>Die erweiterten Attribute wurden erfolgreich repariert.</translation>
    </message>
    <message>
        <source>Please enter your password.

The Launch Services database will be reset,</source>
        <translation>Bitte geben Sie Ihr Passwort ein.

Die Programmdatenbank wird zurückgesetzt,</translation>
    </message>
    <message>
        <source>The Launch Services database has been successfully reset.</source>
        <translation>Die Programmdatenbank wurde erfolgreich zurückgesetzt.</translation>
    </message>
    <message>
        <source>You can now install Keyloft from the App Store.</source>
        <translation>Sie können Keyloft jetzt aus dem App Store installieren.</translation>
    </message>
    <message>
        <source>Failed to obtain user attributes.</source>
        <translation>Die Benutzerattribute konnten nicht ermittelt werden.</translation>
    </message>
    <message>
        <source>Please contact Vantlesoft support.</source>
        <translation>Bitte wenden Sie sich an den Vantlesoft-Support.</translation>
    </message>
    <message>
        <source>The diagnostics script stopped before it could create the report.</source>
        <translation>Das Diagnoseskript wurde beendet, bevor es den Bericht erstellen konnte.</translation>
    </message>
    <message>
        <source>The diagnostics script finished, but no report was written to the report folder.</source>
        <translation>Das Diagnoseskript ist fertig, hat aber keinen Bericht in den Berichtsordner geschrieben.</translation>
    </message>
    <message>
        <source>The application&apos;s folder has a name that cannot be passed to the diagnostics script.</source>
        <translation>Der Ordner des Programms hat einen Namen, der nicht an das Diagnoseskript übergeben werden kann.</translation>
    </message>
    <message>
        <source>The report has been created. Click the Create New Mail Message button to create a new email message in your mail program to send to our Support Jedi. You can also drag and drop the icon into an email or click it to view the report in your file manager.</source>
        <translation>Der Bericht wurde erstellt. Klicken Sie auf „Neue E-Mail erstellen...“, um in Ihrem E-Mail-Programm eine neue Nachricht an unsere Support-Jedis zu erstellen. Sie können das Symbol auch in eine E-Mail ziehen oder es anklicken, um den Bericht in Ihrem Dateimanager anzuzeigen.</translation>
    </message>
    <message>
        <source>The report folder could not be opened.</source>
        <translation>Der Berichtsordner konnte nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>No file manager could open it. You can open the folder yourself:
%@</source>
        <translation>Kein Dateimanager konnte ihn öffnen. Sie können den Ordner selbst öffnen:
%@</translation>
    </message>
    <message>
        <source>Report Contents</source>
        <translation>Berichtsinhalt</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Total size: %@</source>
        <translation>Gesamtgröße: %@</translation>
    </message>
    <message>
        <source>&amp;Find:</source>
        <translation>&amp;Suchen:</translation>
    </message>
    <message>
        <source>Find &amp;Previous</source>
        <translation>&amp;Rückwärts suchen</translation>
    </message>
    <message>
        <source>Find &amp;Next</source>
        <translation>&amp;Weitersuchen</translation>
    </message>
    <message>
        <source>Not found</source>
        <translation>Nicht gefunden</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>S&amp;chließen</translation>
    </message>
    <message>
        <source>Files in the report</source>
        <translation>Dateien im Bericht</translation>
    </message>
    <message>
        <source>Contents of the selected file</source>
        <translation>Inhalt der ausgewählten Datei</translation>
    </message>
    <message>
        <source>Find in the selected file</source>
        <translation>In der ausgewählten Datei suchen</translation>
    </message>
    <message>
        <source>There is no report to show yet. Generate a report first.</source>
        <translation>Es gibt noch keinen Bericht zum Anzeigen. Erstellen Sie zuerst einen Bericht.</translation>
    </message>
    <message>
        <source>The report file could not be read. It may have been moved or deleted, or you may not be allowed to read it.</source>
        <translation>Die Berichtsdatei konnte nicht gelesen werden. Vielleicht wurde sie verschoben oder gelöscht, oder Sie dürfen sie nicht lesen.</translation>
    </message>
    <message>
        <source>The newest file in the report folder is not a zip archive, so it is no report of this tool.</source>
        <translation>Die neueste Datei im Berichtsordner ist kein ZIP-Archiv und damit kein Bericht dieses Programms.</translation>
    </message>
    <message>
        <source>The report is damaged and cannot be read completely. Do not send it; generate a new report instead.</source>
        <translation>Der Bericht ist beschädigt und kann nicht vollständig gelesen werden. Senden Sie ihn nicht, sondern erstellen Sie einen neuen Bericht.</translation>
    </message>
    <message>
        <source>The report uses encryption or a kind of compression that this tool cannot read, so it is no report of this tool.</source>
        <translation>Der Bericht verwendet eine Verschlüsselung oder Komprimierung, die dieses Programm nicht lesen kann; er ist also kein Bericht dieses Programms.</translation>
    </message>
    <message>
        <source>The report is too large to be shown here.</source>
        <translation>Der Bericht ist zu groß, um hier angezeigt zu werden.</translation>
    </message>
    <message>
        <source>This archive has no manifest.json, so it is no report of this tool. Check its files before you send it.</source>
        <translation>Dieses Archiv enthält keine manifest.json und ist damit kein Bericht dieses Programms. Prüfen Sie seine Dateien, bevor Sie es senden.</translation>
    </message>
    <message>
        <source>Showing the first %@ of %@.</source>
        <translation>Angezeigt werden die ersten %@ von %@.</translation>
    </message>
    <message>
        <source>This file is not text and is not shown (%@).</source>
        <translation>Diese Datei ist kein Text und wird nicht angezeigt (%@).</translation>
    </message>
    <message>
        <source>Makes a diagnostics report for Keyloft support. Without options, opens the window.</source>
        <translation>Erstellt einen Diagnosebericht für den Keyloft-Support. Ohne Optionen öffnet sich das Fenster.</translation>
    </message>
    <message>
        <source>Make a report without a window and print its path.</source>
        <translation>Einen Bericht ohne Fenster erstellen und seinen Pfad ausgeben.</translation>
    </message>
    <message>
        <source>Show this help and exit.</source>
        <translation>Diese Hilfe anzeigen und beenden.</translation>
    </message>
    <message>
        <source>Show the version and exit.</source>
        <translation>Die Version anzeigen und beenden.</translation>
    </message>
    <message>
        <source>Unexpected argument: %@</source>
        <translation>Unerwartetes Argument: %@</translation>
    </message>
    <message>
        <source>Uncheck a file to leave it out of the report before you send it.</source>
        <translation>Entfernen Sie das Häkchen bei einer Datei, um sie vor dem Senden aus dem Bericht wegzulassen.</translation>
    </message>
    <message>
        <source>&amp;Leave Out Unchecked Files…</source>
        <translation>Nicht markierte Dateien &amp;weglassen…</translation>
    </message>
    <message numerus="yes">
        <source>Leave these files out of the report?

%@

The report is written again without them, and its summary and manifest.json say that you left them out. This cannot be undone.</source>
        <translation>
            <numerusform>Diese Datei aus dem Bericht weglassen?

%@

Der Bericht wird ohne sie neu geschrieben, und seine Zusammenfassung und manifest.json vermerken, dass Sie sie weggelassen haben. Das kann nicht rückgängig gemacht werden.</numerusform>
            <numerusform>Diese Dateien aus dem Bericht weglassen?

%@

Der Bericht wird ohne sie neu geschrieben, und seine Zusammenfassung und manifest.json vermerken, dass Sie sie weggelassen haben. Das kann nicht rückgängig gemacht werden.</numerusform>
        </translation>
    </message>
    <message>
        <source>Leave Out</source>
        <translation>Weglassen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message numerus="yes">
        <source>The report was written again without: %@</source>
        <translation>
            <numerusform>Der Bericht wurde ohne diese Datei neu geschrieben: %@</numerusform>
            <numerusform>Der Bericht wurde ohne diese Dateien neu geschrieben: %@</numerusform>
        </translation>
    </message>
    <message>
        <source>The report could not be written again; it is unchanged.</source>
        <translation>Der Bericht konnte nicht neu geschrieben werden; er ist unverändert.</translation>
    </message>
    <message>
        <source>Report</source>
        <translation>Bericht</translation>
    </message>
    <message>
        <source>The file %@. Enter or Space shows it, Ctrl+C copies it, and dragging it into another application copies it there.</source>
        <translation>Die Datei %@. Eingabetaste oder Leertaste zeigt sie, Strg+C kopiert sie, und wenn Sie sie in ein anderes Programm ziehen, wird sie dorthin kopiert.</translation>
    </message>
    <message>
        <source>Keyloft Troubleshooting</source>
        <translation>Keyloft-Fehlerbehebung</translation>
    </message>
    <message>
        <source>Create New Mail Message...</source>
        <translation>Neue E-Mail erstellen...</translation>
    </message>
    <message>
        <source>%@
%@</source>
        <extracomment>The line under the report icon: the report&apos;s file name, a line break, its size.</extracomment>
        <translation>%@
%@</translation>
    </message>
    <message>
        <source>Idle</source>
        <translation>Bereit</translation>
    </message>
    <message>
        <source>Working, please wait</source>
        <translation>In Arbeit, bitte warten</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Keyloft Troubleshooting</source>
        <translation>Keyloft-Fehlerbehebung</translation>
    </message>
    <message>
        <source>Diagnostics report</source>
        <translation>Diagnosebericht</translation>
    </message>
    <message>
        <source>The report appears here once it has been generated.</source>
        <translation>Der Bericht erscheint hier, sobald er erstellt ist.</translation>
    </message>
    <message>
        <source>&lt;b&gt;Keyloft 4 Diagnostics&lt;/b&gt;</source>
        <translation>&lt;b&gt;Keyloft 4 – Diagnose&lt;/b&gt;</translation>
    </message>
    <message>
        <source>This tool collects information about your Keyloft 4 installation into a diagnostics report for the Keyloft support team. The report holds no passwords and nothing is sent until you choose to send it.

Click “Generate Report” to begin. It may take a minute.</source>
        <translation>Dieses Programm sammelt Informationen über Ihre Keyloft-4-Installation in einem Diagnosebericht für das Keyloft-Support-Team. Der Bericht enthält keine Passwörter, und nichts wird gesendet, bevor Sie sich dafür entscheiden.

Klicken Sie auf „Bericht erstellen“, um zu beginnen. Das kann eine Minute dauern.</translation>
    </message>
    <message>
        <source>Report progress</source>
        <translation>Fortschritt des Berichts</translation>
    </message>
    <message>
        <source>Generate Report</source>
        <translation>Bericht erstellen</translation>
    </message>
    <message>
        <source>Collects the diagnostics report; once it is there, creates a mail message to Keyloft support with the report attached.</source>
        <translation>Erstellt den Diagnosebericht; sobald er vorliegt, eine E-Mail an den Keyloft-Support mit dem Bericht im Anhang.</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Repair</source>
        <translation>&amp;Reparieren</translation>
    </message>
    <message>
        <source>Show Report &amp;Contents…</source>
        <translation>Berichts&amp;inhalt anzeigen…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Reset &amp;Folder Permissions…</source>
        <translation>&amp;Ordnerberechtigungen zurücksetzen…</translation>
    </message>
    <message>
        <source>Give the Keyloft 4 folders back to you, with their usual permissions</source>
        <translation>Gibt Ihnen die Keyloft-4-Ordner mit ihren üblichen Berechtigungen zurück</translation>
    </message>
    <message>
        <source>Repair &amp;Extended Attributes…</source>
        <translation>&amp;Erweiterte Attribute reparieren…</translation>
    </message>
    <message>
        <source>Repair the owner and access entries of your service overrides file</source>
        <translation>Repariert Eigentümer und Zugriffseinträge Ihrer Datei mit Dienst-Überschreibungen</translation>
    </message>
    <message>
        <source>Reset &amp;Application Database…</source>
        <translation>&amp;Programmdatenbank zurücksetzen…</translation>
    </message>
    <message>
        <source>Rebuild the desktop&apos;s database of installed applications</source>
        <translation>Baut die Datenbank der installierten Programme Ihrer Arbeitsumgebung neu auf</translation>
    </message>
</context>
</TS>
