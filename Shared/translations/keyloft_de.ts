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
        <source>%llu bytes</source>
        <translation>%llu Byte</translation>
    </message>
    <message>
        <source>%.1f MB</source>
        <translation>%.1f MB</translation>
    </message>
</context>
</TS>
