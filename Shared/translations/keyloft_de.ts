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
        <translation>Bitte ziehen Sie das Berichtssymbol in eine neue Nachricht in Ihrem E-Mail-Programm und senden Sie sie an %@. Sie können auch auf das Symbol klicken, um den Bericht in Ihrer Dateiverwaltung zu finden.</translation>
    </message>
    <message>
        <source>Check that the new message in your mail program has the report attached; if it does not, drag the report icon into the message.</source>
        <translation>Prüfen Sie, ob der Bericht an die neue Nachricht in Ihrem E-Mail-Programm angehängt ist; falls nicht, ziehen Sie das Berichtssymbol in die Nachricht.</translation>
    </message>
    <message>
        <source>Your mail program (%@) cannot take attachments from other programs, so the new message has no report attached: drag the report icon into the message.</source>
        <translation>Ihr E-Mail-Programm (%@) kann keine Anhänge von anderen Programmen übernehmen, daher ist der Bericht nicht an die neue Nachricht angehängt: Ziehen Sie das Berichtssymbol in die Nachricht.</translation>
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
        <source>Please enter your Mac OS X password.

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
        <source>Please enter your Mac OS X password.

Extended Attributes will be repaired. </source>
        <translation>Bitte geben Sie Ihr Kennwort ein.

Die erweiterten Attribute werden repariert. </translation>
    </message>
    <message>
        <source>The extended attributes have been repaired successfully.</source>
        <translation>Die erweiterten Attribute wurden erfolgreich repariert.</translation>
    </message>
    <message>
        <source>Please enter your Mac OS X password.

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
</context>
</TS>
