<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- Written by hand and compiled with lrelease at build time; not maintained by lupdate. -->
<TS version="2.1" language="pl_PL" sourcelanguage="en">
<context>
    <name>Adnotacje</name>
    <message>
        <source>Parse error at line %1, column %2:
%3</source>
        <translation>Błąd parsowania w linii %1, kolumnie %2:
%3</translation>
    </message>
</context>
<context>
    <name>DInfo</name>
    <message>
        <source>About application</source>
        <translation>O aplikacji</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Zamknij</translation>
    </message>
    <message>
        <source>HarbendPlayera Icon</source>
        <translation>Ikona HarbendPlayera</translation>
    </message>
    <message>
        <source>compiled with Qt</source>
        <translation>skompilowano z Qt</translation>
    </message>
</context>
<context>
    <name>DPrint</name>
    <message>
        <source>Print Document</source>
        <translation>Drukuj dokument</translation>
    </message>
</context>
<context>
    <name>PlayerControl</name>
    <message>
        <source>Can&apos;t open media source!</source>
        <translation>Nie można otworzyć wymaganego źródła!</translation>
    </message>
    <message>
        <source>Failed to start Ogg reading thread!</source>
        <translation>Nie udało się wystartować wątku odczytującego!</translation>
    </message>
    <message>
        <source>Failed to start reading from the Ogg file!</source>
        <translation>Nie udało się rozpocząć odczytu z pliku Ogg!</translation>
    </message>
    <message>
        <source>Invalid stream source!</source>
        <translation>Nieprawidłowe źródło!</translation>
    </message>
</context>
<context>
    <name>VideoSurface</name>
    <message>
        <source>Failed to create Direct3D video output! Out of memory?</source>
        <translation>Nie udało się utworzyć wyjścia video Direct3D! Brak pamięci?</translation>
    </message>
    <message>
        <source>Failed to create OpenGL video output! Out of memory?</source>
        <translation>Nie udało się utworzyć wyjścia video OpenGL! Brak pamięci?</translation>
    </message>
    <message>
        <source>Failed to create software video output! Out of memory?</source>
        <translation>Nie udało się utworzyć programowego wyjścia video! Brak pamięci?</translation>
    </message>
    <message>
        <source>The picture format of this recording is not supported. It plays without video.</source>
        <translation>Format obrazu tego nagrania nie jest obsługiwany. Nagranie zostanie odtworzone bez obrazu.</translation>
    </message>
    <message>
        <source>Failed to initialize video output! Won&apos;t have video support!</source>
        <translation>Nie udało się zainicjalizować żadnego wyjścia video! Odtwarzacz nie będzie posiadał obsługi video!</translation>
    </message>
    <message>
        <source>The newest graphics drivers are not installed in this system. Video playback would be done in software.</source>
        <translation>W systemie nie zainstalowano najnowszych sterowników dla karty graficznej. Odtwarzanie video będzie się odbywać programowo.</translation>
    </message>
</context>
<context>
    <name>WMediaPlayer</name>
    <message>
        <source>Video rendering problem</source>
        <translation>Problem renderowania video</translation>
    </message>
</context>
<context>
    <name>WPlayer</name>
    <message>
        <source>Channel volume control</source>
        <translation>Regulacja głośności kanałów</translation>
    </message>
    <message>
        <source>Critical error</source>
        <translation>Błąd krytyczny</translation>
    </message>
    <message>
        <source>Failed to open recording file &apos;%1&apos;.</source>
        <translation>Nie udało się otworzyć pliku z nagraniem &apos;%1&apos;.</translation>
    </message>
    <message>
        <source>Failed to open style file &apos;%1&apos;. Loading default style.</source>
        <translation>Nie udało się otworzyć pliku stylu &apos;%1&apos;. Ładuję domyślny styl.</translation>
    </message>
    <message>
        <source>Fast playback</source>
        <translation>Szybkie odtwarzanie</translation>
    </message>
    <message>
        <source>Normal playback</source>
        <translation>Normalne odtwarzanie</translation>
    </message>
    <message>
        <source>Open annotation file</source>
        <translation>Otwieranie pliku z adnotacjami</translation>
    </message>
    <message>
        <source>Open recording file</source>
        <translation>Otwieranie pliku z nagraniem</translation>
    </message>
    <message>
        <source>Harbend annotation files (*.xml);;All files(*.*)</source>
        <translation>Pliki adnotacji Harbend (*.xml);;Wszystkie pliki(*.*)</translation>
    </message>
    <message>
        <source>Harbend recordings (*.ogg *.oga);;All files (*.*)</source>
        <translation>Nagrania Harbend (*.ogg *.oga);;Wszystkie pliki (*.*)</translation>
    </message>
    <message>
        <source>Slow playback</source>
        <translation>Wolne odtwarzanie</translation>
    </message>
</context>
<context>
    <name>QXmlStream</name>
    <message>
        <source>Expected %1, but got &apos;%2&apos;.</source>
        <translation>Oczekiwano %1, ale otrzymano &apos;%2&apos;.</translation>
    </message>
    <message>
        <source>%1 or &apos;%2&apos;</source>
        <translation>%1 lub &apos;%2&apos;</translation>
    </message>
    <message>
        <source>%1, or &apos;%2&apos;</source>
        <translation>%1 lub &apos;%2&apos;</translation>
    </message>
    <message>
        <source>Unexpected &apos;%1&apos;.</source>
        <translation>Nieoczekiwany &apos;%1&apos;.</translation>
    </message>
</context>
</TS>
