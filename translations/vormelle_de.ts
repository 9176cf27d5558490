<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>vormelle::Form1</name>
    <message>
        <source>TIFF files to convert</source>
        <translation>Umzuwandelnde TIFF-Dateien</translation>
    </message>
    <message>
        <source>Output folder</source>
        <translation>Zielordner</translation>
    </message>
    <message>
        <source>Choose output folder</source>
        <translation>Zielordner wählen</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Progress Bar</source>
        <translation>Fortschrittsbalken</translation>
    </message>
    <message>
        <source>Add TIFF File(s)</source>
        <translation>TIFF-Datei(en) hinzufügen</translation>
    </message>
    <message>
        <source>Add All TIFF File(s) In Folder</source>
        <translation>Alle TIFF-Dateien im Ordner hinzufügen</translation>
    </message>
    <message>
        <source>Clear List</source>
        <translation>Liste leeren</translation>
    </message>
    <message>
        <source>Load Sample/Example Files</source>
        <translation>Beispieldateien laden</translation>
    </message>
    <message>
        <source>Save Option</source>
        <translation>Speicherort</translation>
    </message>
    <message>
        <source>Save results to this folder:</source>
        <translation>Ergebnisse in diesem Ordner speichern:</translation>
    </message>
    <message>
        <source>Save results in folder of original file</source>
        <translation>Ergebnisse im Ordner der Originaldatei speichern</translation>
    </message>
    <message>
        <source>Start Converting</source>
        <translation>Umwandlung starten</translation>
    </message>
    <message>
        <source>Encoder:</source>
        <translation>Encoder:</translation>
    </message>
    <message>
        <source>Through PDF (tiff2pdf + pdf2djvu)</source>
        <translation>Über PDF (tiff2pdf + pdf2djvu)</translation>
    </message>
    <message>
        <source>Drag and drop files here. Double-click item to remove it. Move | line to right and out of window to reveal full names.</source>
        <translation>Dateien hierher ziehen und ablegen. Ein Doppelklick entfernt einen Eintrag. Den Strich | nach rechts aus dem Fenster ziehen, um die ganzen Namen zu sehen.</translation>
    </message>
    <message>
        <source>TIFF File(s)</source>
        <translation>TIFF-Datei(en)</translation>
    </message>
    <message>
        <source>Make text searchable (OCR)</source>
        <translation>Text durchsuchbar machen (OCR)</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Join all files into one document</source>
        <translation>Alle Dateien zu einem Dokument zusammenfügen</translation>
    </message>
    <message>
        <source>Smaller black-and-white pages (lossy)</source>
        <translation>Kleinere Schwarz-Weiß-Seiten (verlustbehaftet)</translation>
    </message>
    <message>
        <source>Direct: exact 1-bit pages, compact colour</source>
        <translation>Direkt: 1-Bit-Seiten exakt, Farbe kompakt</translation>
    </message>
</context>
<context>
    <name>vormelle::conversion::Texts</name>
    <message>
        <source>Processing: </source>
        <translation>Wird umgewandelt: </translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>, less than a minute left</source>
        <translation>, noch weniger als eine Minute</translation>
    </message>
    <message>
        <source>, about %1 min left</source>
        <translation>, noch etwa %1 min</translation>
    </message>
    <message>
        <source>, about %1 h left</source>
        <translation>, noch etwa %1 h</translation>
    </message>
    <message>
        <source>Stop converting? Files already converted are kept.</source>
        <translation>Umwandlung anhalten? Bereits umgewandelte Dateien bleiben erhalten.</translation>
    </message>
    <message>
        <source>Folder does not exist. Please select another folder.</source>
        <translation>Der Ordner existiert nicht. Bitte wählen Sie einen anderen Ordner.</translation>
    </message>
    <message>
        <source>No files added.</source>
        <translation>Keine Dateien hinzugefügt.</translation>
    </message>
    <message>
        <source>Done.</source>
        <translation>Fertig.</translation>
    </message>
    <message>
        <source>Join into one document</source>
        <translation>Zu einem Dokument zusammenfügen</translation>
    </message>
    <message>
        <source>DjVu documents (*.djvu)</source>
        <translation>DjVu-Dokumente (*.djvu)</translation>
    </message>
    <message>
        <source>%1 was not written.</source>
        <translation>%1 wurde nicht geschrieben.</translation>
    </message>
    <message numerus="yes">
        <source>and %n more</source>
        <translation>
            <numerusform>und %n weitere</numerusform>
            <numerusform>und %n weitere</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) could not be converted:</source>
        <translation>
            <numerusform>%n Datei konnte nicht umgewandelt werden:</numerusform>
            <numerusform>%n Dateien konnten nicht umgewandelt werden:</numerusform>
        </translation>
    </message>
    <message>
        <source>Make %1 from the other files?</source>
        <translation>%1 aus den anderen Dateien erstellen?</translation>
    </message>
    <message>
        <source>%1 was not written: %2</source>
        <translation>%1 wurde nicht geschrieben: %2</translation>
    </message>
    <message numerus="yes">
        <source>Joined into %1 (%n page(s)):</source>
        <translation>
            <numerusform>Zusammengefügt zu %1 (%n Seite):</numerusform>
            <numerusform>Zusammengefügt zu %1 (%n Seiten):</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>vormelle::engine::JoinTexts</name>
    <message>
        <source>the result of %1 cannot be read back</source>
        <translation>das Ergebnis von %1 kann nicht zurückgelesen werden</translation>
    </message>
    <message>
        <source>no file was converted</source>
        <translation>keine Datei wurde umgewandelt</translation>
    </message>
    <message>
        <source>the files could not be joined: %1</source>
        <translation>die Dateien konnten nicht zusammengefügt werden: %1</translation>
    </message>
    <message>
        <source>the joined document does not hold the pages of its files</source>
        <translation>das zusammengefügte Dokument enthält nicht die Seiten seiner Dateien</translation>
    </message>
    <message>
        <source>%1 could not be written: %2</source>
        <translation>%1 konnte nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>page %1</source>
        <translation>Seite %1</translation>
    </message>
    <message>
        <source>pages %1-%2</source>
        <translation>Seiten %1-%2</translation>
    </message>
</context>
<context>
    <name>vormelle::engine::Texts</name>
    <message>
        <source>the conversion was stopped</source>
        <translation>die Umwandlung wurde angehalten</translation>
    </message>
    <message>
        <source>%1 wrote no DjVu file</source>
        <translation>%1 hat keine DjVu-Datei geschrieben</translation>
    </message>
    <message>
        <source>cannot write in the temporary folder: %1</source>
        <translation>Schreiben im temporären Ordner nicht möglich: %1</translation>
    </message>
    <message>
        <source>the file has no pages</source>
        <translation>die Datei hat keine Seiten</translation>
    </message>
    <message>
        <source>the existing %1 is write-protected</source>
        <translation>die vorhandene Datei %1 ist schreibgeschützt</translation>
    </message>
    <message>
        <source>the output folder %1 no longer exists</source>
        <translation>der Zielordner %1 existiert nicht mehr</translation>
    </message>
    <message>
        <source>cannot write into the output folder %1: %2</source>
        <translation>Schreiben in den Zielordner %1 nicht möglich: %2</translation>
    </message>
    <message>
        <source>the result&apos;s name would be %1 bytes long, more than the %2 its folder allows</source>
        <translation>der Name des Ergebnisses wäre %1 Bytes lang, mehr als die %2, die sein Ordner erlaubt</translation>
    </message>
    <message>
        <source>Nothing was converted: pdf2djvu was not found. It belongs at %1.</source>
        <translation>Nichts wurde umgewandelt: pdf2djvu wurde nicht gefunden. Es gehört nach %1.</translation>
    </message>
    <message>
        <source>Nothing was converted: pdf2djvu at %1 cannot be run (it is not an executable file).</source>
        <translation>Nichts wurde umgewandelt: pdf2djvu unter %1 lässt sich nicht starten (es ist keine ausführbare Datei).</translation>
    </message>
    <message>
        <source>Nothing was converted: %1 in the temporary folder %2 (%3).</source>
        <translation>Nichts wurde umgewandelt: %1 (im temporären Ordner %2: %3).</translation>
    </message>
    <message>
        <source>its result %1 would replace the one made from %2; </source>
        <translation>sein Ergebnis %1 würde das aus %2 ersetzen; </translation>
    </message>
    <message>
        <source>save beside the originals or rename one</source>
        <translation>neben den Originalen speichern oder eine Datei umbenennen</translation>
    </message>
    <message>
        <source>rename one</source>
        <translation>eine Datei umbenennen</translation>
    </message>
    <message>
        <source>no folder for the run could be made</source>
        <translation>für den Lauf konnte kein Ordner angelegt werden</translation>
    </message>
    <message>
        <source>the converter could not be written</source>
        <translation>der Konverter konnte nicht geschrieben werden</translation>
    </message>
    <message>
        <source>no folder for the row could be made in %1: %2</source>
        <translation>für die Zeile konnte in %1 kein Ordner angelegt werden: %2</translation>
    </message>
    <message>
        <source>the parts of the DjVu result could not be joined: %1</source>
        <translation>die Teile des DjVu-Ergebnisses konnten nicht zusammengefügt werden: %1</translation>
    </message>
    <message>
        <source>no space left in the temporary folder </source>
        <translation>kein Platz mehr im temporären Ordner </translation>
    </message>
    <message>
        <source>the encoder</source>
        <translation>der Encoder</translation>
    </message>
    <message>
        <source>the DjVu result could not be opened</source>
        <translation>das DjVu-Ergebnis ließ sich nicht öffnen</translation>
    </message>
    <message>
        <source>the DjVu result lost pages when its text was added</source>
        <translation>das DjVu-Ergebnis hat beim Hinzufügen des Textes Seiten verloren</translation>
    </message>
    <message>
        <source>the result would replace the input file</source>
        <translation>das Ergebnis würde die Eingabedatei ersetzen</translation>
    </message>
    <message>
        <source>the result could not be saved in %1: %2</source>
        <translation>das Ergebnis konnte nicht in %1 gespeichert werden: %2</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a language name</source>
        <translation>„%1“ ist kein Sprachname</translation>
    </message>
    <message>
        <source>Tesseract cannot load the languages %1</source>
        <translation>Tesseract kann die Sprachen %1 nicht laden</translation>
    </message>
    <message>
        <source>Nothing was converted: no language is given for the text layer.</source>
        <translation>Nichts wurde umgewandelt: Für die Textebene ist keine Sprache angegeben.</translation>
    </message>
    <message>
        <source>Nothing was converted: &quot;%1&quot; is not a language for the text layer (languages look like eng or deu+eng).</source>
        <translation>Nichts wurde umgewandelt: „%1“ ist keine Sprache für die Textebene (Sprachen sehen aus wie eng oder deu+eng).</translation>
    </message>
    <message>
        <source>Nothing was converted: Tesseract has no data for the language(s) %1 in %2 (Debian&apos;s package(s) %3).</source>
        <translation>Nichts wurde umgewandelt: Tesseract hat in %2 keine Daten für die Sprache(n) %1 (Debian-Paket(e) %3).</translation>
    </message>
    <message>
        <source>the DjVu result could not be read</source>
        <translation>das DjVu-Ergebnis konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>the DjVu result has fewer pages than the TIFF</source>
        <translation>das DjVu-Ergebnis hat weniger Seiten als die TIFF-Datei</translation>
    </message>
    <message>
        <source>not enough memory to convert this page (%1 x %2 pixels)</source>
        <translation>nicht genug Speicher, um diese Seite umzuwandeln (%1 x %2 Pixel)</translation>
    </message>
    <message>
        <source>not enough memory to convert this page</source>
        <translation>nicht genug Speicher, um diese Seite umzuwandeln</translation>
    </message>
    <message>
        <source>signal %1</source>
        <translation>Signal %1</translation>
    </message>
    <message>
        <source>%1 crashed (%2)</source>
        <translation>%1 ist abgestürzt (%2)</translation>
    </message>
    <message>
        <source>%1 was stopped by a signal (%2)</source>
        <translation>%1 wurde durch ein Signal beendet (%2)</translation>
    </message>
    <message>
        <source>%1 ended with code %2</source>
        <translation>%1 endete mit Code %2</translation>
    </message>
    <message>
        <source>stopped while it was converted</source>
        <translation>während der Umwandlung angehalten</translation>
    </message>
    <message>
        <source>tiff2pdf wrote no PDF</source>
        <translation>tiff2pdf hat kein PDF geschrieben</translation>
    </message>
    <message>
        <source>not started</source>
        <translation>nicht begonnen</translation>
    </message>
    <message>
        <source>the conversion did not finish</source>
        <translation>die Umwandlung wurde nicht fertig</translation>
    </message>
    <message>
        <source>no text layer: %1</source>
        <translation>keine Textebene: %1</translation>
    </message>
    <message>
        <source>no text found on page %1</source>
        <translation>kein Text auf Seite %1 gefunden</translation>
    </message>
    <message>
        <source>no text found on pages %1</source>
        <translation>kein Text auf den Seiten %1 gefunden</translation>
    </message>
    <message>
        <source>%1: converted; %2</source>
        <translation>%1: umgewandelt; %2</translation>
    </message>
    <message>
        <source> (in %1)</source>
        <translation> (in %1)</translation>
    </message>
    <message>
        <source>Stopped.</source>
        <translation>Angehalten.</translation>
    </message>
    <message>
        <source>Done.</source>
        <translation>Fertig.</translation>
    </message>
    <message>
        <source>... and %1 more.</source>
        <translation>... und %1 weitere.</translation>
    </message>
    <message>
        <source>All reasons: </source>
        <translation>Alle Gründe: </translation>
    </message>
    <message>
        <source>the first page cannot be read</source>
        <translation>die erste Seite kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>page %1 cannot be read</source>
        <translation>Seite %1 kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>this kind of page is not supported (%1)</source>
        <translation>diese Art von Seite wird nicht unterstützt (%1)</translation>
    </message>
    <message>
        <source>Progress Bar</source>
        <translation>Fortschrittsbalken</translation>
    </message>
    <message>
        <source>Please wait.. </source>
        <translation>Bitte warten... </translation>
    </message>
    <message>
        <source>YCbCr JPEG tiles past the page&apos;s edge are not supported</source>
        <translation>YCbCr-JPEG-Kacheln über den Seitenrand hinaus werden nicht unterstützt</translation>
    </message>
    <message>
        <source>some pages have no usable resolution</source>
        <translation>einige Seiten haben keine brauchbare Auflösung</translation>
    </message>
    <message>
        <source>page %1: %2</source>
        <translation>Seite %1: %2</translation>
    </message>
    <message>
        <source>the page has no pixels</source>
        <translation>die Seite hat keine Pixel</translation>
    </message>
    <message>
        <source>the page is too large for DjVu (%1 x %2 pixels)</source>
        <translation>die Seite ist zu groß für DjVu (%1 x %2 Pixel)</translation>
    </message>
    <message>
        <source>the page is too large to convert (%1 x %2 pixels)</source>
        <translation>die Seite ist zu groß zum Umwandeln (%1 x %2 Pixel)</translation>
    </message>
    <message>
        <source>floating-point samples are not supported</source>
        <translation>Gleitkomma-Abtastwerte werden nicht unterstützt</translation>
    </message>
    <message>
        <source>signed samples are not supported</source>
        <translation>vorzeichenbehaftete Abtastwerte werden nicht unterstützt</translation>
    </message>
    <message>
        <source>%1-bit samples are not supported</source>
        <translation>%1-Bit-Abtastwerte werden nicht unterstützt</translation>
    </message>
    <message>
        <source>the colour model is not given</source>
        <translation>das Farbmodell ist nicht angegeben</translation>
    </message>
    <message>
        <source>colour model %1 is not supported</source>
        <translation>Farbmodell %1 wird nicht unterstützt</translation>
    </message>
    <message>
        <source>alpha channel is not supported</source>
        <translation>Alphakanal wird nicht unterstützt</translation>
    </message>
    <message>
        <source>extra channels are not supported</source>
        <translation>zusätzliche Kanäle werden nicht unterstützt</translation>
    </message>
    <message>
        <source>colour channels are missing</source>
        <translation>Farbkanäle fehlen</translation>
    </message>
    <message>
        <source>compression %1 is not supported</source>
        <translation>Kompression %1 wird nicht unterstützt</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>die Datei ist leer</translation>
    </message>
    <message>
        <source>the file could not be read</source>
        <translation>die Datei konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>not a TIFF file</source>
        <translation>keine TIFF-Datei</translation>
    </message>
    <message>
        <source>the TIFF header is incomplete</source>
        <translation>der TIFF-Kopf ist unvollständig</translation>
    </message>
    <message>
        <source>the file is not there</source>
        <translation>die Datei ist nicht vorhanden</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>keine reguläre Datei</translation>
    </message>
    <message>
        <source>the file may not be read</source>
        <translation>keine Leseberechtigung für die Datei</translation>
    </message>
    <message>
        <source>the page could not be encoded (%1)</source>
        <translation>die Seite konnte nicht kodiert werden (%1)</translation>
    </message>
    <message>
        <source>Nothing was converted: Tesseract has no language &quot;%1&quot;, but has &quot;%2&quot;: language names are case-sensitive.</source>
        <translation>Nichts wurde umgewandelt: Tesseract hat keine Sprache &quot;%1&quot;, aber &quot;%2&quot;: bei Sprachnamen zählt die Groß- und Kleinschreibung.</translation>
    </message>
    <message>
        <source>the name is a symbolic link that loops</source>
        <translation>der Name ist eine symbolische Verknüpfung, die im Kreis führt</translation>
    </message>
    <message>
        <source>a result of this run has that name</source>
        <translation>ein Ergebnis dieses Laufs trägt diesen Namen</translation>
    </message>
    <message>
        <source>it is a folder</source>
        <translation>es ist ein Ordner</translation>
    </message>
    <message>
        <source>it is a FIFO that nobody reads</source>
        <translation>es ist ein FIFO, den niemand liest</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>es ist keine gewöhnliche Datei</translation>
    </message>
    <message>
        <source>it is an input of this run</source>
        <translation>es ist eine Eingabe dieses Laufs</translation>
    </message>
    <message>
        <source>a result of this run will replace it</source>
        <translation>ein Ergebnis dieses Laufs wird es ersetzen</translation>
    </message>
    <message>
        <source>it is a TIFF file</source>
        <translation>es ist eine TIFF-Datei</translation>
    </message>
    <message>
        <source>it exists and is not a Vormelle log; name a new file or an earlier log</source>
        <translation>es existiert und ist kein Vormelle-Protokoll; nennen Sie eine neue Datei oder ein früheres Protokoll</translation>
    </message>
    <message>
        <source>the document would be larger than DjVu allows (2 GB or 65535 pages)</source>
        <translation>das Dokument würde größer, als DjVu erlaubt (2 GB oder 65535 Seiten)</translation>
    </message>
    <message>
        <source>a page is not DjVu that can be bundled</source>
        <translation>eine Seite ist kein DjVu, das sich bündeln lässt</translation>
    </message>
    <message>
        <source>a page file could not be read</source>
        <translation>eine Seitendatei konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>cannot write in the temporary folder</source>
        <translation>Schreiben im temporären Ordner nicht möglich</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>the pages could not be bundled</source>
        <translation>die Seiten konnten nicht gebündelt werden</translation>
    </message>
    <message>
        <source>the text could not be put into the pages</source>
        <translation>der Text konnte nicht in die Seiten geschrieben werden</translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) converted; %2 not started.</source>
        <translation>
            <numerusform>%1 von %n Datei umgewandelt; %2 nicht begonnen.</numerusform>
            <numerusform>%1 von %n Dateien umgewandelt; %2 nicht begonnen.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) converted; %2 stopped while converted, %3 not started.</source>
        <translation>
            <numerusform>%1 von %n Datei umgewandelt; %2 während der Umwandlung angehalten, %3 nicht begonnen.</numerusform>
            <numerusform>%1 von %n Dateien umgewandelt; %2 während der Umwandlung angehalten, %3 nicht begonnen.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) could not be converted:</source>
        <translation>
            <numerusform>%1 von %n Datei konnte nicht umgewandelt werden:</numerusform>
            <numerusform>%1 von %n Dateien konnten nicht umgewandelt werden:</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n page(s) converted</source>
        <translation>
            <numerusform>%1 von %n Seite umgewandelt</numerusform>
            <numerusform>%1 von %n Seiten umgewandelt</numerusform>
        </translation>
    </message>
    <message>
        <source>page %1: text turned by %2 degrees, read the right way up</source>
        <translation>Seite %1: Text um %2 Grad gedreht, richtig herum gelesen</translation>
    </message>
    <message>
        <source>page %1: orientation unsure, read as it is</source>
        <translation>Seite %1: Ausrichtung unsicher, so gelesen, wie sie ist</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is Tesseract&apos;s model for a page&apos;s orientation and script, not a language</source>
        <translation>&quot;%1&quot; ist Tesseracts Modell für Ausrichtung und Schrift einer Seite, keine Sprache</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is Tesseract&apos;s model for finding equations, not a language</source>
        <translation>&quot;%1&quot; ist Tesseracts Modell zum Finden von Formeln, keine Sprache</translation>
    </message>
    <message>
        <source>Nothing was converted: %1.</source>
        <translation>Nichts wurde umgewandelt: %1.</translation>
    </message>
    <message>
        <source>Nothing was converted: Tesseract cannot load its data for %1 from %2; a file may be damaged (reinstall Debian&apos;s package(s) %3).</source>
        <translation>Nichts wurde umgewandelt: Tesseract kann seine Daten für %1 aus %2 nicht laden; eine Datei ist vielleicht beschädigt (Debian-Paket(e) %3 neu installieren).</translation>
    </message>
    <message>
        <source>text layer cut short on page %1: reading it took longer than a page of its size may take</source>
        <translation>Textebene auf Seite %1 unvollständig: das Lesen dauerte länger, als eine Seite dieser Größe dauern darf</translation>
    </message>
    <message>
        <source>text layer cut short on pages %1: reading them took longer than pages of their size may take</source>
        <translation>Textebene auf den Seiten %1 unvollständig: das Lesen dauerte länger, als Seiten dieser Größe dauern dürfen</translation>
    </message>
    <message>
        <source>no space left in the temporary folder</source>
        <translation>kein Platz mehr im temporären Ordner</translation>
    </message>
    <message>
        <source>Nothing was converted: %1 was not found. DjVuLibre&apos;s encoders c44 and djvumake must be on the PATH for grey and colour pages (Debian&apos;s package djvulibre-bin).</source>
        <translation>Nichts wurde umgewandelt: %1 wurde nicht gefunden. DjVuLibres Encoder c44 und djvumake müssen für Graustufen- und Farbseiten im PATH liegen (Debian-Paket djvulibre-bin).</translation>
    </message>
    <message>
        <source>%1 could not be started</source>
        <translation>%1 ließ sich nicht starten</translation>
    </message>
    <message>
        <source>%1 could not be started: %2</source>
        <translation>%1 ließ sich nicht starten: %2</translation>
    </message>
    <message>
        <source>%1 wrote %2 MB, far more than pages of this size take</source>
        <translation>%1 schrieb %2 MB, weit mehr, als Seiten dieser Größe brauchen</translation>
    </message>
    <message>
        <source>Nothing was converted: the text layer&apos;s helper %1 cannot be started (%2).</source>
        <translation>Nichts wurde umgewandelt: das Hilfsprogramm der Textebene %1 kann nicht gestartet werden (%2).</translation>
    </message>
    <message>
        <source>no text on page %1: %2</source>
        <translation>kein Text auf Seite %1: %2</translation>
    </message>
    <message>
        <source>%1 cannot be started: %2</source>
        <translation>%1 kann nicht gestartet werden: %2</translation>
    </message>
    <message>
        <source>%1 answered garbage</source>
        <translation>%1 gab eine unlesbare Antwort</translation>
    </message>
</context>
<context>
    <name>vormelle::inputs::Texts</name>
    <message>
        <source>Enter file extension to load:<byte value="xd"/><byte value="xd"/>(* for all files, txt for all txt files, doc for all doc files, etc.)</source>
        <translation>Dateiendung der zu ladenden Dateien eingeben:<byte value="xd"/><byte value="xd"/>(* für alle Dateien, txt für alle txt-Dateien, doc für alle doc-Dateien usw.)</translation>
    </message>
    <message>
        <source>Add File(s) - Hold Ctrl to select multiple files</source>
        <translation>Datei(en) hinzufügen – mit gedrückter Strg-Taste mehrere Dateien auswählen</translation>
    </message>
    <message>
        <source>TIFF Files (*.tif;*.tiff)|*.tif;*.tiff|</source>
        <translation>TIFF-Dateien (*.tif;*.tiff)|*.tif;*.tiff|</translation>
    </message>
    <message>
        <source>You&apos;ve selected too many files to add.<byte value="xd"/><byte value="xd"/>Please try adding via the &quot;Add All&quot; button.</source>
        <translation>Sie haben zu viele Dateien zum Hinzufügen ausgewählt.<byte value="xd"/><byte value="xd"/>Bitte fügen Sie sie über die Schaltfläche „Alle TIFF-Dateien im Ordner hinzufügen“ hinzu.</translation>
    </message>
    <message>
        <source>Would you like this software to open the folder where these sample files are stored (so that you can view them before working with them)?</source>
        <translation>Soll das Programm den Ordner öffnen, in dem die Beispieldateien liegen (damit Sie sie ansehen können, bevor Sie damit arbeiten)?</translation>
    </message>
</context>
<context>
    <name>vormelle::platform::Texts</name>
    <message>
        <source>Invalid procedure call or argument</source>
        <translation>Ungültiger Prozeduraufruf oder ungültiges Argument</translation>
    </message>
    <message>
        <source>Out of memory</source>
        <translation>Nicht genügend Speicher</translation>
    </message>
    <message>
        <source>Internal error</source>
        <translation>Interner Fehler</translation>
    </message>
    <message>
        <source>Type mismatch</source>
        <translation>Typen unverträglich</translation>
    </message>
    <message>
        <source>File not found</source>
        <translation>Datei nicht gefunden</translation>
    </message>
    <message>
        <source>Disk full</source>
        <translation>Datenträger voll</translation>
    </message>
    <message>
        <source>Too many files</source>
        <translation>Zu viele Dateien</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message>
        <source>Path/File access error</source>
        <translation>Fehler beim Zugriff auf Pfad/Datei</translation>
    </message>
    <message>
        <source>Path not found</source>
        <translation>Pfad nicht gefunden</translation>
    </message>
    <message>
        <source>Invalid picture</source>
        <translation>Ungültiges Bild</translation>
    </message>
    <message>
        <source>The FileName buffer is too small to store the selected file names</source>
        <translation>Der FileName-Puffer ist zu klein für die ausgewählten Dateinamen</translation>
    </message>
    <message>
        <source>Application-defined or object-defined error</source>
        <translation>Anwendungs- oder objektdefinierter Fehler</translation>
    </message>
    <message>
        <source>Error %1</source>
        <translation>Fehler %1</translation>
    </message>
    <message>
        <source>Open Folder</source>
        <translation>Ordner öffnen</translation>
    </message>
    <message>
        <source>Not a regular file</source>
        <translation>Keine reguläre Datei</translation>
    </message>
    <message>
        <source>Resource with identifier &apos;%1&apos; not found</source>
        <translation>Ressource mit der Kennung „%1“ nicht gefunden</translation>
    </message>
</context>
<context>
    <name>vormelle::program::Texts</name>
    <message>
        <source>converted</source>
        <translation>umgewandelt</translation>
    </message>
    <message>
        <source>converted; %1</source>
        <translation>umgewandelt; %1</translation>
    </message>
    <message>
        <source>%1 of %2: %3: %4</source>
        <translation>%1 von %2: %3: %4</translation>
    </message>
    <message>
        <source>failed: </source>
        <translation>fehlgeschlagen: </translation>
    </message>
    <message>
        <source>[%1%2] %3 of %4</source>
        <translation>[%1%2] %3 von %4</translation>
    </message>
    <message>
        <source>cannot be read</source>
        <translation>kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>no TIFF files to convert</source>
        <translation>keine TIFF-Dateien zum Umwandeln</translation>
    </message>
    <message>
        <source>Folder does not exist. Please select another folder.</source>
        <translation>Der Ordner existiert nicht. Bitte wählen Sie einen anderen Ordner.</translation>
    </message>
    <message>
        <source>stopped: %1 converted, %2 not converted</source>
        <translation>angehalten: %1 umgewandelt, %2 nicht umgewandelt</translation>
    </message>
    <message>
        <source>an empty name is no file or folder</source>
        <translation>ein leerer Name ist weder Datei noch Ordner</translation>
    </message>
    <message>
        <source>%1 is given twice</source>
        <translation>%1 ist zweimal angegeben</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 braucht einen Wert</translation>
    </message>
    <message>
        <source>--encoder takes direct or pdf, not %1</source>
        <translation>--encoder nimmt direct oder pdf, nicht %1</translation>
    </message>
    <message>
        <source>--jobs takes a number from 1 to %1, not %2</source>
        <translation>--jobs nimmt eine Zahl von 1 bis %1, nicht %2</translation>
    </message>
    <message>
        <source>--ocr= takes languages like eng or deu+eng, not &quot;%1&quot;</source>
        <translation>--ocr= nimmt Sprachen wie eng oder deu+eng, nicht „%1“</translation>
    </message>
    <message>
        <source>unknown option %1</source>
        <translation>unbekannte Option %1</translation>
    </message>
    <message>
        <source>%1 needs --convert</source>
        <translation>%1 gilt nur mit --convert</translation>
    </message>
    <message>
        <source>--convert needs at least one FILE or FOLDER</source>
        <translation>--convert braucht mindestens eine DATEI oder einen ORDNER</translation>
    </message>
    <message>
        <source>%1: no such file or folder</source>
        <translation>%1: Datei oder Ordner nicht gefunden</translation>
    </message>
    <message>
        <source>--log %1: %2; nothing was converted</source>
        <translation>--log %1: %2; nichts wurde umgewandelt</translation>
    </message>
    <message>
        <source>the log %1 could not be written: %2</source>
        <translation>das Protokoll %1 konnte nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>stopped: %1 not written</source>
        <translation>angehalten: %1 nicht geschrieben</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) failed; %1 not written (--join-partial joins the others)</source>
        <translation>
            <numerusform>%n Datei fehlgeschlagen; %1 nicht geschrieben (--join-partial fügt die anderen zusammen)</numerusform>
            <numerusform>%n Dateien fehlgeschlagen; %1 nicht geschrieben (--join-partial fügt die anderen zusammen)</numerusform>
        </translation>
    </message>
    <message>
        <source>not joined: %1</source>
        <translation>nicht zusammengefügt: %1</translation>
    </message>
    <message numerus="yes">
        <source>joined into %1, %n page(s):</source>
        <translation>
            <numerusform>zusammengefügt zu %1, %n Seite:</numerusform>
            <numerusform>zusammengefügt zu %1, %n Seiten:</numerusform>
        </translation>
    </message>
    <message>
        <source>exists; left alone</source>
        <translation>existiert; bleibt unverändert</translation>
    </message>
    <message>
        <source>skipped: %1 exists</source>
        <translation>übersprungen: %1 existiert</translation>
    </message>
    <message>
        <source>no folder for the joined files: %1</source>
        <translation>kein Ordner für die zusammenzufügenden Dateien: %1</translation>
    </message>
    <message>
        <source>--join takes the document&apos;s file name, not a folder</source>
        <translation>--join nimmt den Dateinamen des Dokuments, keinen Ordner</translation>
    </message>
    <message>
        <source>--output, --beside and --join exclude each other</source>
        <translation>--output, --beside und --join schließen einander aus</translation>
    </message>
    <message>
        <source>--join-partial needs --join FILE</source>
        <translation>--join-partial gilt nur mit --join DATEI</translation>
    </message>
    <message>
        <source>--lossy needs --encoder direct</source>
        <translation>--lossy gilt nur mit --encoder direct</translation>
    </message>
    <message>
        <source>--convert needs --output DIR, --beside or --join FILE</source>
        <translation>--convert braucht --output ORDNER, --beside oder --join DATEI</translation>
    </message>
    <message>
        <source>Try &apos;vormelle --help&apos; for more information.</source>
        <translation>„vormelle --help“ gibt weitere Informationen.</translation>
    </message>
    <message>
        <source>--colour-pages takes compound or layer, not %1</source>
        <translation>--colour-pages nimmt compound oder layer, nicht %1</translation>
    </message>
    <message>
        <source>Usage: vormelle [FILE|FOLDER]...
       vormelle --convert (--output DIR | --beside | --join FILE.djvu)
                [--encoder direct|pdf] [--colour-pages compound|layer] [--lossy]
                [--jobs N] [--log FILE] [--ocr[=LANGS]]
                [--skip-existing] [--join-partial] [--print0] FILE|FOLDER...

Converts TIFF images into DjVu documents.

Without --convert, opens the window with the files already listed; a folder adds
the TIFF files (*.tif, *.tiff) in it and in its sub-folders.

  --convert          convert without a window, and end; a folder stands for the
                     TIFF files of its tree
  --output DIR       write the results into DIR
  --beside           write each result next to its original
  --join FILE.djvu   join all pages into one document, file after file
  --join-partial     with --join: when some files fail, join the others
                     (without it, nothing is written)
  --skip-existing    leave results that already exist alone
  --encoder ENCODER  direct (straight into DjVu: Vormelle&apos;s own JB2 coder and
                     DjVuLibre&apos;s c44, the default) or pdf (tiff2pdf, pdf2djvu)
  --colour-pages compound|layer
                     the direct route&apos;s grey and colour pages: a sharp text
                     mask over small colour layers (compound, the default), or
                     one picture layer (layer)
  --lossy            the direct route&apos;s black-and-white pages smaller: a letter
                     scanned twice is drawn as one of its prints, never as
                     another letter or figure; at most 1 % of a page&apos;s pixels
                     change
  --jobs N           convert N files at a time, 1 to 16 (default: the cores, at
                     most 8)
  --log FILE         write a record of every file into FILE (a new file, or
                     an earlier log, which is added to)
  --ocr[=LANGS]      add a text layer with Tesseract, in LANGS (such as deu+eng;
                     default: the window&apos;s OCR languages, or English and the
                     user&apos;s language)
  --print0           end each result&apos;s name on stdout with a NUL, not a newline,
                     and print it unescaped
  -h, --help         show this help and end
      --version      show the version and end

The window&apos;s stored choices do not change a --convert run.

Exit status:
  0    all converted (or skipped as existing)
  1    some files failed, or lost the text layer --ocr asked for
  2    usage error
  3    nothing could run (no converter, no output folder, no TIFF files)
  130  stopped by Ctrl-C (SIGINT)
  143  stopped by SIGTERM
</source>
        <translation>Aufruf: vormelle [DATEI|ORDNER]...
       vormelle --convert (--output ORDNER | --beside | --join DATEI.djvu)
                [--encoder direct|pdf] [--colour-pages compound|layer] [--lossy]
                [--jobs N] [--log DATEI] [--ocr[=SPRACHEN]]
                [--skip-existing] [--join-partial] [--print0] DATEI|ORDNER...

Wandelt TIFF-Bilder in DjVu-Dokumente um.

Ohne --convert öffnet sich das Fenster mit den Dateien schon in der Liste; ein
Ordner fügt die TIFF-Dateien (*.tif, *.tiff) in ihm und seinen Unterordnern hinzu.

  --convert          ohne Fenster umwandeln und enden; ein Ordner steht für die
                     TIFF-Dateien seines Baums
  --output ORDNER    die Ergebnisse in ORDNER schreiben
  --beside           jedes Ergebnis neben sein Original schreiben
  --join DATEI.djvu  alle Seiten zu einem Dokument zusammenfügen, Datei für Datei
  --join-partial     mit --join: wenn Dateien scheitern, die anderen zusammenfügen
                     (ohne dies wird nichts geschrieben)
  --skip-existing    vorhandene Ergebnisse unverändert lassen
  --encoder ENCODER  direct (direkt nach DjVu: Vormelles eigener JB2-Coder und
                     DjVuLibres c44, die Vorgabe) oder pdf (tiff2pdf, pdf2djvu)
  --colour-pages compound|layer
                     Grau- und Farbseiten des direkten Wegs: eine scharfe
                     Textmaske über kleinen Farbebenen (compound, die Vorgabe)
                     oder eine Bildebene (layer)
  --lossy            die Schwarz-Weiß-Seiten des direkten Wegs kleiner: ein
                     zweimal gescannter Buchstabe wird als einer seiner Drucke
                     gezeichnet, nie als ein anderer Buchstabe oder eine andere
                     Ziffer; höchstens 1 % der Pixel einer Seite ändern sich
  --jobs N           N Dateien zugleich umwandeln, 1 bis 16 (Vorgabe: die Kerne,
                     höchstens 8)
  --log DATEI        ein Protokoll jeder Datei in DATEI schreiben (eine neue
                     Datei oder ein früheres Protokoll, das ergänzt wird)
  --ocr[=SPRACHEN]   eine Textebene mit Tesseract hinzufügen, in SPRACHEN (etwa
                     deu+eng; Vorgabe: die OCR-Sprachen des Fensters, sonst
                     Englisch und die Sprache des Benutzers)
  --print0           jeden Ergebnisnamen auf stdout mit NUL statt Zeilenumbruch
                     beenden und unmaskiert ausgeben
  -h, --help         diese Hilfe zeigen und enden
      --version      die Version zeigen und enden

Die gespeicherten Einstellungen des Fensters ändern einen --convert-Lauf nicht.

Exit-Status:
  0    alles umgewandelt (oder als vorhanden übersprungen)
  1    einige Dateien fehlgeschlagen, oder ohne die mit --ocr verlangte Textebene
  2    Aufruffehler
  3    nichts konnte laufen (kein Konverter, kein Zielordner, keine TIFF-Dateien)
  130  durch Strg-C angehalten (SIGINT)
  143  durch SIGTERM angehalten
</translation>
    </message>
    <message>
        <source>Converting TIFF files to DjVu</source>
        <translation>TIFF-Dateien werden in DjVu umgewandelt</translation>
    </message>
    <message>
        <source>Vormelle has finished converting</source>
        <translation>Vormelle hat die Umwandlung beendet</translation>
    </message>
    <message>
        <source>%1

Converts TIFF images into DjVu documents.

Licence: GNU General Public License, version 3 or later (GPL-3.0-or-later). There is no warranty.</source>
        <translation>%1

Wandelt TIFF-Bilder in DjVu-Dokumente um.

Lizenz: GNU General Public License, Version 3 oder später (GPL-3.0-or-later). Es gibt keine Gewährleistung.</translation>
    </message>
    <message>
        <source>About Vormelle</source>
        <translation>Über Vormelle</translation>
    </message>
</context>
<context>
    <name>vormelle::shell::Texts</name>
    <message>
        <source>Progress Bar</source>
        <translation>Fortschrittsbalken</translation>
    </message>
    <message>
        <source>at line </source>
        <translation>in Zeile </translation>
    </message>
    <message>
        <source>Please email screenshot of this message to </source>
        <translation>Bitte senden Sie ein Bildschirmfoto dieser Meldung an </translation>
    </message>
    <message>
        <source>Application Error</source>
        <translation>Programmfehler</translation>
    </message>
    <message>
        <source>Please select folder:</source>
        <translation>Bitte Ordner auswählen:</translation>
    </message>
    <message>
        <source>Settings cannot be saved now. Vormelle goes on with them in memory; changes made until it closes are not kept.</source>
        <translation>Die Einstellungen können gerade nicht gespeichert werden. Vormelle arbeitet mit ihnen im Speicher weiter; Änderungen bis zum Schließen bleiben nicht erhalten.</translation>
    </message>
</context>
</TS>
