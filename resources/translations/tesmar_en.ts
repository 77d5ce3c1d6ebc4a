<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB" sourcelanguage="ru_RU">
<context>
    <name>layout</name>
    <message>
        <source>1. Род работы</source>
        <translation>1. Function</translation>
    </message>
    <message>
        <source>10. Вычисления</source>
        <translation>10. Calculations</translation>
    </message>
    <message>
        <source>11. Автокалибровки</source>
        <translation>11. Auto-calibrations</translation>
    </message>
    <message>
        <source>12. Внешняя корр. нуля</source>
        <translation>12. External zero corr.</translation>
    </message>
    <message>
        <source>13. Подсветка индикатора</source>
        <translation>13. Display backlight</translation>
    </message>
    <message>
        <source>14. Очистка буфера</source>
        <translation>14. Clear buffer</translation>
    </message>
    <message>
        <source>15. Управление</source>
        <translation>15. Control</translation>
    </message>
    <message>
        <source>16. Проведение тестов</source>
        <translation>16. Self-tests</translation>
    </message>
    <message>
        <source>17. Математ. обработка</source>
        <translation>17. Math processing</translation>
    </message>
    <message>
        <source>18. Константа</source>
        <translation>18. Constant</translation>
    </message>
    <message>
        <source>2. Диапазон измерения</source>
        <translation>2. Range</translation>
    </message>
    <message>
        <source>3. Режим запуска</source>
        <translation>3. Trigger mode</translation>
    </message>
    <message>
        <source>4. Режим АВП</source>
        <translation>4. Auto-ranging</translation>
    </message>
    <message>
        <source>5. Фильтр</source>
        <translation>5. Filter</translation>
    </message>
    <message>
        <source>6. Звук</source>
        <translation>6. Sound</translation>
    </message>
    <message>
        <source>7. Формат индикации</source>
        <translation>7. Display format</translation>
    </message>
    <message>
        <source>8. Периодич. корр. нуля</source>
        <translation>8. Periodic zero corr.</translation>
    </message>
    <message>
        <source>9. Режим выдачи</source>
        <translation>9. Output mode</translation>
    </message>
    <message>
        <source>АВП</source>
        <translation>AUTO</translation>
    </message>
    <message>
        <source>Атокалибровка</source>
        <translation>Auto-calibration</translation>
    </message>
    <message>
        <source>Больше</source>
        <translation>Higher</translation>
    </message>
    <message>
        <source>Буфер</source>
        <translation>Buffer</translation>
    </message>
    <message>
        <source>ВЫЧ</source>
        <translation>CALC</translation>
    </message>
    <message>
        <source>Внешняя коррекция 0</source>
        <translation>External zero correction</translation>
    </message>
    <message>
        <source>Внутренний</source>
        <translation>Internal</translation>
    </message>
    <message>
        <source>Вольтметр K4-18/3</source>
        <translation>Voltmeter K4-18/3</translation>
    </message>
    <message>
        <source>Вольтметр: проверка</source>
        <translation>Voltmeter: check</translation>
    </message>
    <message>
        <source>Выбор параметра</source>
        <translation>Function</translation>
    </message>
    <message>
        <source>Демо: форма проверки</source>
        <translation>Demo: check form</translation>
    </message>
    <message>
        <source>Запуск</source>
        <translation>Trigger</translation>
    </message>
    <message>
        <source>Звук</source>
        <translation>Sound</translation>
    </message>
    <message>
        <source>Изменение предела</source>
        <translation>Range</translation>
    </message>
    <message>
        <source>Интерфейс</source>
        <translation>Interface</translation>
    </message>
    <message>
        <source>МЕНЮ</source>
        <translation>MENU</translation>
    </message>
    <message>
        <source>Меньше</source>
        <translation>Lower</translation>
    </message>
    <message>
        <source>Настройка прибора</source>
        <translation>Setting up the instrument</translation>
    </message>
    <message>
        <source>Общий сброс</source>
        <translation>General reset</translation>
    </message>
    <message>
        <source>Переменное напряжение</source>
        <translation>AC voltage</translation>
    </message>
    <message>
        <source>Переменный ток</source>
        <translation>AC current</translation>
    </message>
    <message>
        <source>Период</source>
        <translation>Period</translation>
    </message>
    <message>
        <source>Период. коррекция 0</source>
        <translation>Periodic zero correction</translation>
    </message>
    <message>
        <source>Подсветка</source>
        <translation>Backlight</translation>
    </message>
    <message>
        <source>Порт</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Постоянное напряжение</source>
        <translation>DC voltage</translation>
    </message>
    <message>
        <source>Постоянный ток</source>
        <translation>DC current</translation>
    </message>
    <message>
        <source>Прием</source>
        <translation>Receive</translation>
    </message>
    <message>
        <source>Программный периодический</source>
        <translation>Programmed periodic</translation>
    </message>
    <message>
        <source>РАЗРЕШ</source>
        <translation>RESOL</translation>
    </message>
    <message>
        <source>Разрядность</source>
        <translation>Resolution</translation>
    </message>
    <message>
        <source>Режим</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>Символ конца строки</source>
        <translation>End-of-line character</translation>
    </message>
    <message>
        <source>Скорость</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>Сопротивление 2x</source>
        <translation>Resistance 2-wire</translation>
    </message>
    <message>
        <source>Сопротивление 4х</source>
        <translation>Resistance 4-wire</translation>
    </message>
    <message>
        <source>Фильтр</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>Частота</source>
        <translation>Frequency</translation>
    </message>
    <message>
        <source>Эхо</source>
        <translation>Echo</translation>
    </message>
    <message>
        <source>пульт прибора</source>
        <translation>instrument panel</translation>
    </message>
</context>
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
