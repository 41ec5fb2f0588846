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
        <source>%llu bytes</source>
        <translation>%llu Byte</translation>
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
        <translation>Bitte geben Sie Ihr Kennwort ein.

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
        <translation>Bitte geben Sie Ihr Kennwort ein.

Die erweiterten Attribute werden repariert. </translation>
    </message>
    <message>
        <source>The extended attributes have been repaired successfully.</source>
        <translation>Die erweiterten Attribute wurden erfolgreich repariert.</translation>
    </message>
    <message>
        <source>Please enter your password.

The Launch Services database will be reset,</source>
        <translation>Bitte geben Sie Ihr Kennwort ein.

Die Launch-Services-Datenbank wird zurückgesetzt,</translation>
    </message>
    <message>
        <source>The Launch Services database has been successfully reset.</source>
        <translation>Die Launch-Services-Datenbank wurde erfolgreich zurückgesetzt.</translation>
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
        <source>The application's folder has a name that cannot be passed to the diagnostics script.</source>
        <translation>Der Ordner des Programms hat einen Namen, der nicht an das Diagnoseskript übergeben werden kann.</translation>
    </message>
    <message>
        <source>The report has been created. Click the Create New Mail Message button to create a new email message in your mail program to send to our Support Jedi. You can also drag and drop the icon into an email or click it to view the report in your file manager.</source>
        <translation>Der Bericht wurde erstellt. Klicken Sie auf „Create New Mail Message...“, um in Ihrem E-Mail-Programm eine neue Nachricht an unsere Support-Jedi zu erstellen. Sie können das Symbol auch in eine E-Mail ziehen oder es anklicken, um den Bericht in Ihrem Dateimanager anzuzeigen.</translation>
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
</context>
</TS>
