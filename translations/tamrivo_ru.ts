<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="ru_RU">
<context>
    <name>MainWindow</name>
    <message numerus="yes">
        <source>Записано и проверено %n байт за %1 с</source>
        <translation>
            <numerusform>Записан и проверен %n байт за %1 с</numerusform>
            <numerusform>Записано и проверено %n байта за %1 с</numerusform>
            <numerusform>Записано и проверено %n байт за %1 с</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1, страниц без изменений: %n</source>
        <translation>
            <numerusform>%1, страниц без изменений: %n</numerusform>
            <numerusform>%1, страниц без изменений: %n</numerusform>
            <numerusform>%1, страниц без изменений: %n</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>отличаются %n байт</source>
        <translation>
            <numerusform>отличается %n байт</numerusform>
            <numerusform>отличаются %n байта</numerusform>
            <numerusform>отличаются %n байт</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>в %n диапазонах</source>
        <translation>
            <numerusform>в %n диапазоне</numerusform>
            <numerusform>в %n диапазонах</numerusform>
            <numerusform>в %n диапазонах</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Проверено %n байт за %1 с: данные совпадают</source>
        <translation>
            <numerusform>Проверен %n байт за %1 с: данные совпадают</numerusform>
            <numerusform>Проверено %n байта за %1 с: данные совпадают</numerusform>
            <numerusform>Проверено %n байт за %1 с: данные совпадают</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Прочитано %n байт за %1 с и сохранено в %2</source>
        <translation>
            <numerusform>Прочитан %n байт за %1 с и сохранён в %2</numerusform>
            <numerusform>Прочитано %n байта за %1 с и сохранено в %2</numerusform>
            <numerusform>Прочитано %n байт за %1 с и сохранено в %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Прочитано %n байт за %1 с, файл не записан</source>
        <translation>
            <numerusform>Прочитан %n байт за %1 с, файл не записан</numerusform>
            <numerusform>Прочитано %n байта за %1 с, файл не записан</numerusform>
            <numerusform>Прочитано %n байт за %1 с, файл не записан</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Прочитано %n байт и сохранено в файл
%1</source>
        <translation>
            <numerusform>Прочитан %n байт и сохранён в файл
%1</numerusform>
            <numerusform>Прочитано %n байта и сохранено в файл
%1</numerusform>
            <numerusform>Прочитано %n байт и сохранено в файл
%1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1, %n байт, страниц: %2
SHA-256 %3
CRC-32 %4</source>
        <translation>
            <numerusform>%1, %n байт, страниц: %2
SHA-256 %3
CRC-32 %4</numerusform>
            <numerusform>%1, %n байта, страниц: %2
SHA-256 %3
CRC-32 %4</numerusform>
            <numerusform>%1, %n байт, страниц: %2
SHA-256 %3
CRC-32 %4</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>DifferenceView</name>
    <message numerus="yes">
        <source>Отличаются %n байт</source>
        <translation>
            <numerusform>Отличается %n байт</numerusform>
            <numerusform>Отличаются %n байта</numerusform>
            <numerusform>Отличаются %n байт</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>в %n диапазонах</source>
        <translation>
            <numerusform>в %n диапазоне</numerusform>
            <numerusform>в %n диапазонах</numerusform>
            <numerusform>в %n диапазонах</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Показано начало диапазона: ещё %n байт не показаны</source>
        <translation>
            <numerusform>Показано начало диапазона: ещё %n байт не показан</numerusform>
            <numerusform>Показано начало диапазона: ещё %n байта не показаны</numerusform>
            <numerusform>Показано начало диапазона: ещё %n байт не показаны</numerusform>
        </translation>
    </message>
</context>
</TS>
