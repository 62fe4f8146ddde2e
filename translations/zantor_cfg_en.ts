<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="pl">
<context>
    <name>MainWin</name>
    <message>
        <source>Czytnik</source>
        <translation>Reader</translation>
    </message>
    <message>
        <source>Konfiguracja</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>Odczyt konfiguracji</source>
        <translation>Read configuration</translation>
    </message>
    <message>
        <source>Zapis konfiguracji</source>
        <translation>Write configuration</translation>
    </message>
    <message>
        <source> Wybrany tryb komunikacji </source>
        <translation> Output mode </translation>
    </message>
    <message>
        <source>Binarny</source>
        <translation>Binary</translation>
    </message>
    <message>
        <source> Sygnalizowanie </source>
        <translation> Report </translation>
    </message>
    <message>
        <source>Tylko zbliżenie karty</source>
        <translation>Card presented only</translation>
    </message>
    <message>
        <source>Również zabranie karty</source>
        <translation>Card removed as well</translation>
    </message>
    <message>
        <source>Zgłaszanie obecnej karty co 1s</source>
        <translation>Card in field, every 1 s</translation>
    </message>
    <message>
        <source>Ascii</source>
        <translation>ASCII</translation>
    </message>
    <message>
        <source> Format </source>
        <translation> Format </translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>Dec (cały numer)</source>
        <translation>Decimal (whole number)</translation>
    </message>
    <message>
        <source>Dec (każdy bajt)</source>
        <translation>Decimal (each byte)</translation>
    </message>
    <message>
        <source> Numer karty </source>
        <translation> Card number </translation>
    </message>
    <message>
        <source>Według karty</source>
        <translation>As the card has it</translation>
    </message>
    <message>
        <source>4 bajty</source>
        <translation>4 bytes</translation>
    </message>
    <message>
        <source>5 bajtów</source>
        <translation>5 bytes</translation>
    </message>
    <message>
        <source>6 bajtów</source>
        <translation>6 bytes</translation>
    </message>
    <message>
        <source>7 bajtów</source>
        <translation>7 bytes</translation>
    </message>
    <message>
        <source>8 bajtów</source>
        <translation>8 bytes</translation>
    </message>
    <message>
        <source>Po numerze &lt;CR&gt;&lt;LF&gt;</source>
        <translation>&lt;CR&gt;&lt;LF&gt; after the number</translation>
    </message>
    <message>
        <source>STX przed, ETX po transmisji</source>
        <translation>STX before, ETX after</translation>
    </message>
    <message>
        <source>Wiegand</source>
        <translation>Wiegand</translation>
    </message>
    <message>
        <source> Wiegand </source>
        <translation> Wiegand </translation>
    </message>
    <message>
        <source>24+2 bity</source>
        <translation>24+2 bits</translation>
    </message>
    <message>
        <source>32+2 bity</source>
        <translation>32+2 bits</translation>
    </message>
    <message>
        <source>40+2 bity</source>
        <translation>40+2 bits</translation>
    </message>
    <message>
        <source>48+2 bity</source>
        <translation>48+2 bits</translation>
    </message>
    <message>
        <source>56+2 bity</source>
        <translation>56+2 bits</translation>
    </message>
    <message>
        <source>64+2 bity (standard)</source>
        <translation>64+2 bits (standard)</translation>
    </message>
    <message>
        <source> Kolejność bajtów </source>
        <translation> Byte order </translation>
    </message>
    <message>
        <source>Hi...Lo (standard)</source>
        <translation>Hi...Lo (standard)</translation>
    </message>
    <message>
        <source>Lo...Hi</source>
        <translation>Lo...Hi</translation>
    </message>
    <message>
        <source> Bity parzystości </source>
        <translation> Parity bits </translation>
    </message>
    <message>
        <source>Bez bitów</source>
        <translation>None</translation>
    </message>
    <message>
        <source> Początkowy </source>
        <translation> Leading </translation>
    </message>
    <message>
        <source>Even (standard)</source>
        <translation>Even (standard)</translation>
    </message>
    <message>
        <source>Odd</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source> Końcowy </source>
        <translation> Trailing </translation>
    </message>
    <message>
        <source>Even</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>Odd (standard)</source>
        <translation>Odd (standard)</translation>
    </message>
    <message>
        <source> Sygnalizacja </source>
        <translation> Signalling </translation>
    </message>
    <message>
        <source> LEDy </source>
        <translation> LEDs </translation>
    </message>
    <message>
        <source> Stan stabilny </source>
        <translation> Steady state </translation>
    </message>
    <message>
        <source>Czerwony</source>
        <translation>Red</translation>
    </message>
    <message>
        <source>Zielony</source>
        <translation>Green</translation>
    </message>
    <message>
        <source>Sygnalizacja odczytu</source>
        <translation>Signal a read</translation>
    </message>
    <message>
        <source>Czas sygnalizacji :</source>
        <translation>Signal time:</translation>
    </message>
    <message>
        <source>x 0.1s</source>
        <translation>x 0.1 s</translation>
    </message>
    <message>
        <source> Buzzer </source>
        <translation> Buzzer </translation>
    </message>
    <message>
        <source>Aktywny</source>
        <translation>On</translation>
    </message>
    <message>
        <source>Sygnał :</source>
        <translation>Pattern:</translation>
    </message>
    <message>
        <source>(kratka = 60ms)</source>
        <translation>(box = 60 ms)</translation>
    </message>
    <message>
        <source>Test</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>Transmisje binarne są przedstawiane w zapisie Hex</source>
        <translation>Binary transmissions are shown in hex</translation>
    </message>
    <message>
        <source>Rozkaz M - identyfikacja czytnika</source>
        <translation>Command M - identify the reader</translation>
    </message>
    <message>
        <source>Rozkaz T - karta w polu</source>
        <translation>Command T - card in field</translation>
    </message>
    <message>
        <source> Rozkaz L - sterowanie LEDami i buzzerem </source>
        <translation> Command L - drive the LEDs and buzzer </translation>
    </message>
    <message>
        <source>Czas sygnalizacji (0-na stałe):</source>
        <translation>Signal time (0 - for good):</translation>
    </message>
    <message>
        <source>(kratka = 60ms):</source>
        <translation>(box = 60 ms):</translation>
    </message>
    <message>
        <source>Treść rozkazu :</source>
        <translation>Command bytes:</translation>
    </message>
    <message>
        <source>Wyślij</source>
        <translation>Send</translation>
    </message>
</context>
<context>
    <name>TMainWin</name>
    <message>
        <source>%1: kratka %2 z 8 (%3-%4 ms)</source>
        <translation>%1: box %2 of 8 (%3-%4 ms)</translation>
    </message>
    <message>
        <source>Sygnał buzzera</source>
        <translation>Buzzer pattern</translation>
    </message>
    <message>
        <source>Rozkaz L, sygnał buzzera</source>
        <translation>Command L, buzzer pattern</translation>
    </message>
    <message>
        <source>Czas sygnalizacji odczytu (x 0.1s)</source>
        <translation>Read signal time (x 0.1 s)</translation>
    </message>
    <message>
        <source>Rozkaz L, czas sygnalizacji LEDów (x 0.1s, 0 - na stałe)</source>
        <translation>Command L, LED time (x 0.1 s, 0 - for good)</translation>
    </message>
    <message>
        <source>Treść rozkazu L</source>
        <translation>Bytes of command L</translation>
    </message>
    <message>
        <source>Odebrane i wysłane transmisje</source>
        <translation>Received and sent transmissions</translation>
    </message>
    <message>
        <source>Postęp odczytu konfiguracji</source>
        <translation>Configuration read progress</translation>
    </message>
    <message>
        <source>Postęp zapisu konfiguracji</source>
        <translation>Configuration write progress</translation>
    </message>
    <message>
        <source>Czytnik Zantor-%d, Nr: %05d (soft: %d)</source>
        <translation>Reader Zantor-%d, serial %05d (firmware %d)</translation>
    </message>
    <message>
        <source>Nie podłączony żaden czytnik.</source>
        <translation>No reader connected.</translation>
    </message>
    <message>
        <source>Czytnik zawiera nieprawidłową konfigurację.</source>
        <translation>The reader holds an invalid configuration.</translation>
    </message>
    <message>
        <source>Błąd komunikacji.</source>
        <translation>Communication error.</translation>
    </message>
    <message>
        <source>Wysłane: </source>
        <translation>Sent: </translation>
    </message>
    <message>
        <source>Odebrane: </source>
        <translation>Received: </translation>
    </message>
    <message>
        <source> - echo wysłanego rozkazu</source>
        <translation> - echo of the sent command</translation>
    </message>
    <message>
        <source>Rozkaz: </source>
        <translation>Command: </translation>
    </message>
    <message>
        <source>    Czytnik zawiera nieaktualne oprogramowanie.
    Niektóre ustawienia konfiguracji nie będą
    prawidłowow realizowane.

    Wykonać upgrade oprogramowania czytnika?</source>
        <translation>    The reader has outdated firmware.
    Some configuration settings will not
    work as set.

    Upgrade the reader&apos;s firmware?</translation>
    </message>
    <message>
        <source>Błąd pliku upgrade.</source>
        <translation>Upgrade file error.</translation>
    </message>
    <message>
        <source>Ładowanie nowej wersji oprogramowania</source>
        <translation>Loading the new firmware</translation>
    </message>
</context>
<context>
    <name>TWorkWin</name>
    <message>
        <source>Postęp ładowania nowej wersji oprogramowania</source>
        <translation>Progress of loading the new firmware</translation>
    </message>
</context>
</TS>
