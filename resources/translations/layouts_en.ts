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
</TS>
