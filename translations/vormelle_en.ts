<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>vormelle::conversion::Texts</name>
    <message numerus="yes">
        <source>and %n more</source>
        <translation>
            <numerusform>and %n more</numerusform>
            <numerusform>and %n more</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) could not be converted:</source>
        <translation>
            <numerusform>%n file could not be converted:</numerusform>
            <numerusform>%n files could not be converted:</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Joined into %1 (%n page(s)):</source>
        <translation>
            <numerusform>Joined into %1 (%n page):</numerusform>
            <numerusform>Joined into %1 (%n pages):</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>vormelle::engine::Texts</name>
    <message numerus="yes">
        <source>%1 of %n file(s) converted; %2 not started.</source>
        <translation>
            <numerusform>%1 of %n file converted; %2 not started.</numerusform>
            <numerusform>%1 of %n files converted; %2 not started.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) converted; %2 stopped while converted, %3 not started.</source>
        <translation>
            <numerusform>%1 of %n file converted; %2 stopped while converted, %3 not started.</numerusform>
            <numerusform>%1 of %n files converted; %2 stopped while converted, %3 not started.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) could not be converted:</source>
        <translation>
            <numerusform>%1 of %n file could not be converted:</numerusform>
            <numerusform>%1 of %n files could not be converted:</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n page(s) converted</source>
        <translation>
            <numerusform>%1 of %n page converted</numerusform>
            <numerusform>%1 of %n pages converted</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>vormelle::program::Texts</name>
    <message numerus="yes">
        <source>%n file(s) failed; %1 not written (--join-partial joins the others)</source>
        <translation>
            <numerusform>%n file failed; %1 not written (--join-partial joins the others)</numerusform>
            <numerusform>%n files failed; %1 not written (--join-partial joins the others)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>joined into %1, %n page(s):</source>
        <translation>
            <numerusform>joined into %1, %n page:</numerusform>
            <numerusform>joined into %1, %n pages:</numerusform>
        </translation>
    </message>
</context>
</TS>
