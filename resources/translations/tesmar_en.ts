<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB" sourcelanguage="ru_RU">
<context>
    <name>panel</name>
    <message>
        <source>Mом</source>
        <translation>MΩ</translation>
    </message>
    <message>
        <source>А</source>
        <translation>A</translation>
    </message>
    <message>
        <source>АВП</source>
        <translation>AUTO</translation>
    </message>
    <message>
        <source>Гом</source>
        <translation>GΩ</translation>
    </message>
    <message>
        <source>Другой порт…</source>
        <translation>Other port…</translation>
    </message>
    <message>
        <source>Настройка прибора</source>
        <translation>Setting up the instrument</translation>
    </message>
    <message>
        <source>Нет связи</source>
        <translation>No link</translation>
    </message>
    <message>
        <source>Прибор отвечает, строк измерения нет</source>
        <translation>The instrument answers but sends no readable lines</translation>
    </message>
    <message>
        <source>Сброс</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>диапазон 1000V</source>
        <translation>range 1000V</translation>
    </message>
    <message>
        <source>диапазон 200V</source>
        <translation>range 200V</translation>
    </message>
    <message>
        <source>диапазон 200mV</source>
        <translation>range 200mV</translation>
    </message>
    <message>
        <source>диапазон 200ком</source>
        <translation>range 200kΩ</translation>
    </message>
    <message>
        <source>диапазон 200ом</source>
        <translation>range 200Ω</translation>
    </message>
    <message>
        <source>диапазон 20Mом</source>
        <translation>range 20MΩ</translation>
    </message>
    <message>
        <source>диапазон 20V</source>
        <translation>range 20V</translation>
    </message>
    <message>
        <source>диапазон 20ком</source>
        <translation>range 20kΩ</translation>
    </message>
    <message>
        <source>диапазон 2Mом</source>
        <translation>range 2MΩ</translation>
    </message>
    <message>
        <source>диапазон 2V</source>
        <translation>range 2V</translation>
    </message>
    <message>
        <source>диапазон 2А</source>
        <translation>range 2A</translation>
    </message>
    <message>
        <source>диапазон 2Гом</source>
        <translation>range 2GΩ</translation>
    </message>
    <message>
        <source>диапазон 2ком</source>
        <translation>range 2kΩ</translation>
    </message>
    <message>
        <source>запуск внутренний</source>
        <translation>trigger internal</translation>
    </message>
    <message>
        <source>измерение F</source>
        <translation>measuring F</translation>
    </message>
    <message>
        <source>измерение T</source>
        <translation>measuring T</translation>
    </message>
    <message>
        <source>ком</source>
        <translation>kΩ</translation>
    </message>
    <message>
        <source>мкс</source>
        <translation>µs</translation>
    </message>
    <message>
        <source>ом</source>
        <translation>Ω</translation>
    </message>
    <message>
        <source>функция I=</source>
        <translation>function I=</translation>
    </message>
    <message>
        <source>функция I~</source>
        <translation>function I~</translation>
    </message>
    <message>
        <source>функция R</source>
        <translation>function R</translation>
    </message>
    <message>
        <source>функция U=</source>
        <translation>function U=</translation>
    </message>
    <message>
        <source>функция U=   диапазон измерения 2V   запуск внутренний</source>
        <translation>function U=   range 2V   trigger internal</translation>
    </message>
    <message>
        <source>функция U~</source>
        <translation>function U~</translation>
    </message>
    <message>
        <source>функция Z</source>
        <translation>function Z</translation>
    </message>
</context>
<context>
    <name>recorder</name>
    <message>
        <source>N</source>
        <translation>N</translation>
    </message>
    <message>
        <source>Автомасштаб</source>
        <translation>Autoscale</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Все файлы (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>Ед.</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>Запись</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>Запись в файл</source>
        <translation>Record to file</translation>
    </message>
    <message>
        <source>Запись не ведётся</source>
        <translation>Not recording</translation>
    </message>
    <message>
        <source>Запись остановлена: не удалось записать в файл</source>
        <translation>Recording stopped: could not write to the file</translation>
    </message>
    <message>
        <source>Запись остановлена: файл</source>
        <translation>Recording stopped: the file</translation>
    </message>
    <message>
        <source>Запись остановлена: файл не сохранён на диске</source>
        <translation>Recording stopped: the file was not saved to the disk</translation>
    </message>
    <message>
        <source>Идёт запись в "%1": строк %2</source>
        <translation>Recording to "%1": %2 rows</translation>
    </message>
    <message>
        <source>Максимум</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>Минимум</source>
        <translation>Minimum</translation>
    </message>
    <message>
        <source>Начать запись…</source>
        <translation>Start recording…</translation>
    </message>
    <message>
        <source>Не удалось открыть файл записи</source>
        <translation>Could not open the recording file</translation>
    </message>
    <message>
        <source>Не удалось сохранить "%1"</source>
        <translation>Could not save "%1"</translation>
    </message>
    <message>
        <source>Нечитаемые</source>
        <translation>Unreadable</translation>
    </message>
    <message>
        <source>Окно записи</source>
        <translation>Recorder window</translation>
    </message>
    <message>
        <source>Остановить</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Остановить запись</source>
        <translation>Stop recording</translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Перегрузки</source>
        <translation>Overloads</translation>
    </message>
    <message>
        <source>Последнее</source>
        <translation>Last</translation>
    </message>
    <message>
        <source>СКО</source>
        <translation>Std. dev.</translation>
    </message>
    <message>
        <source>Сбросить статистику</source>
        <translation>Clear statistics</translation>
    </message>
    <message>
        <source>Сохранить PNG…</source>
        <translation>Save PNG…</translation>
    </message>
    <message>
        <source>Сохранить график</source>
        <translation>Save chart</translation>
    </message>
    <message>
        <source>Среднее</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>Функция</source>
        <translation>Function</translation>
    </message>
    <message>
        <source>удалён или заменён (или удалена его папка)</source>
        <translation>was deleted or replaced (or its folder was deleted)</translation>
    </message>
    <message>
        <source>● ЗАПИСЬ</source>
        <translation>● REC</translation>
    </message>
</context>
</TS>
