<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>MainWindow</name>
    <message>
        <source>Настройки</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Start addr</source>
        <translation>Start address</translation>
    </message>
    <message>
        <source>Size page</source>
        <translation>Page size</translation>
    </message>
    <message>
        <source>End addr</source>
        <translation>End address</translation>
    </message>
    <message>
        <source>Файл данных</source>
        <translation>Data file</translation>
    </message>
    <message>
        <source>Ход процесса</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>Запись</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Ostrel, 2026</source>
        <translation>Ostrel, 2026</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Внимание</source>
        <translation>Attention</translation>
    </message>
    <message>
        <source>Считаны следующие параметры flash
Start addr 0x%x
End addr 0x%x
Size Page %d

Применить их ?</source>
        <translation>The device reports these flash parameters:
Start address 0x%x
End address 0x%x
Page size %d

Use them?</translation>
    </message>
    <message>
        <source>Связь через порт %s потеряна</source>
        <translation>Connection through port %s lost</translation>
    </message>
    <message>
        <source>Выбор файла данных</source>
        <translation>Choose Data File</translation>
    </message>
    <message>
        <source>Файл данных (*.bine)</source>
        <translation>Data file (*.bine)</translation>
    </message>
    <message>
        <source>  Параметры
  порта</source>
        <translation>  Port
  settings</translation>
    </message>
    <message>
        <source>имя порта</source>
        <translation>port name</translation>
    </message>
    <message>
        <source>Подключить</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Подключить прибор</source>
        <translation>Connect to the device</translation>
    </message>
    <message>
        <source>Отключить</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>Отключить прибор</source>
        <translation>Disconnect from the device</translation>
    </message>
    <message>
        <source>Серийный номер %1</source>
        <translation>Serial number %1</translation>
    </message>
    <message numerus="yes">
        <source>Записано и проверено %n байт за %1 с</source>
        <translation>
            <numerusform>Written and verified: %n byte in %1 s</numerusform>
            <numerusform>Written and verified: %n bytes in %1 s</numerusform>
        </translation>
    </message>
    <message>
        <source>Запись прервана через %1 с: стёрто страниц %2 из %3, записано байт %4 из %5</source>
        <translation>Cancelled after %1 s: pages erased %2 of %3, bytes written %4 of %5</translation>
    </message>
    <message>
        <source>Запись не удалась через %1 с: стёрто страниц %2 из %3, записано байт %4 из %5</source>
        <translation>Failed after %1 s: pages erased %2 of %3, bytes written %4 of %5</translation>
    </message>
    <message>
        <source>Не удается открыть порт %1:
%2</source>
        <translation>Cannot open port %1:
%2</translation>
    </message>
    <message>
        <source>Нет прав на порт. Добавьте пользователя в группу %1:
sudo usermod -aG %1 $USER
и войдите в систему заново.</source>
        <translation>You have no permission to use the port. Add your user to the %1 group:
sudo usermod -aG %1 $USER
then log out and in again.</translation>
    </message>
    <message>
        <source>Прибор на порту %1 ответил, но ответ не удается разобрать.</source>
        <translation>The device on port %1 answered, but the answer cannot be understood.</translation>
    </message>
    <message>
        <source>Прибор на порту %1 не отвечает.</source>
        <translation>The device on port %1 does not answer.</translation>
    </message>
    <message>
        <source>Устройство продолжает передавать без запроса</source>
        <translation>The device keeps transmitting without being asked</translation>
    </message>
    <message>
        <source>Проверьте, что выбран порт прибора, скорость %1 бод совпадает со скоростью загрузчика и на прибор подано питание.</source>
        <translation>Check that this is the device&apos;s port, that the loader runs at %1 baud, and that the device is powered.</translation>
    </message>
    <message>
        <source>Стирание</source>
        <translation>Erase</translation>
    </message>
    <message>
        <source>Верификация</source>
        <translation>Verify</translation>
    </message>
    <message>
        <source>Информация</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Данные успешно записаны</source>
        <translation>The data were written successfully</translation>
    </message>
    <message>
        <source>Устройство уже содержит образ: ничего не записано</source>
        <translation>The device already holds the image: nothing was written</translation>
    </message>
    <message>
        <source>%1 стр./с</source>
        <translation>%1 pages/s</translation>
    </message>
    <message>
        <source>%1 кБ/с</source>
        <translation>%1 kB/s</translation>
    </message>
    <message>
        <source>%1, осталось %2</source>
        <translation>%1, %2 left</translation>
    </message>
    <message>
        <source>Запись прервана.</source>
        <translation>Writing cancelled.</translation>
    </message>
    <message>
        <source>Не выбран файл данных</source>
        <translation>No data file chosen</translation>
    </message>
    <message>
        <source>Не удается открыть файл
%1
%2</source>
        <translation>Cannot open the file
%1
%2</translation>
    </message>
    <message>
        <source>Размер файла больше заданного диапазона памяти</source>
        <translation>The file is larger than the memory range set</translation>
    </message>
    <message>
        <source>Начальный адрес не кратен размеру страницы</source>
        <translation>The start address is not a multiple of the page size</translation>
    </message>
    <message>
        <source>Доступно памяти %d кБ
Объем данных %d кБ
Количество страниц %d 

Жми ОК для продолжения</source>
        <translation>Memory available %d kB
Data size %d kB
Pages %d 

Press OK to go on</translation>
    </message>
    <message>
        <source>Ошибка при стирания Flash
Page %d</source>
        <translation>Flash erase failed
Page %d</translation>
    </message>
    <message>
        <source>Ошибка при записи flash
Adrees %d
Size block %d</source>
        <translation>Flash write failed
Offset %d
Block size %d</translation>
    </message>
    <message>
        <source>Ошибка при чтении flash
Adrees %d
Size block %d</source>
        <translation>Flash read failed
Offset %d
Block size %d</translation>
    </message>
    <message>
        <source>Ошибка верификации flash
Adress %1
Size block %2
Size send block %3</source>
        <translation>Flash verify failed
Address %1
Block size %2
Bytes read back %3</translation>
    </message>
    <message>
        <source>Приложение не запустится, пока запись не будет выполнена до конца</source>
        <translation>The application will not start until a write runs to its end</translation>
    </message>
    <message>
        <source>Прервать верификацию данных</source>
        <translation>Stop verifying the data?</translation>
    </message>
    <message>
        <source>Прервать стирание данных ?</source>
        <translation>Stop erasing the data?</translation>
    </message>
    <message>
        <source>Прервать запись данных ?</source>
        <translation>Stop writing the data?</translation>
    </message>
    <message>
        <source>Подтверждение</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>Порт, видимо, уже открыт другой программой: закройте ее и подключитесь снова.</source>
        <translation>The port seems to be open in another program: close it and connect again.</translation>
    </message>
    <message>
        <source>Программа предначена для программирования Flash
приборов Ostrel на базе МК STM32.&lt;p&gt;</source>
        <translation>Programs the flash memory of Ostrel devices
built on STM32 microcontrollers.&lt;p&gt;</translation>
    </message>
    <message>
        <source>Образы прошивки</source>
        <translation>Firmware images</translation>
    </message>
    <message>
        <source>Все файлы</source>
        <translation>All files</translation>
    </message>
    <message>
        <source>Ошибка в файле образа
%1</source>
        <translation>The image file is malformed
%1</translation>
    </message>
    <message>
        <source>Данные образа лежат вне заданного диапазона памяти
0x%1 - 0x%2</source>
        <translation>The image&apos;s data lie outside the memory range set
0x%1 - 0x%2</translation>
    </message>
    <message>
        <source>Проверить</source>
        <translation>Verify</translation>
    </message>
    <message>
        <source>Сравнить данные прибора с файлом данных</source>
        <translation>Compare the device&apos;s data with the data file</translation>
    </message>
    <message>
        <source>Сохранить</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Сохранить данные прибора в файл</source>
        <translation>Save the device&apos;s data to a file</translation>
    </message>
    <message>
        <source>Диапазон чтения 0x%1 - 0x%2 пуст или больше 16 МБ</source>
        <translation>The range 0x%1 - 0x%2 to read is empty or larger than 16 MB</translation>
    </message>
    <message>
        <source>Сохранение данных прибора</source>
        <translation>Save Device Data</translation>
    </message>
    <message>
        <source>Не удается записать файл %1:
%2</source>
        <translation>Cannot write the file %1:
%2</translation>
    </message>
    <message numerus="yes">
        <source>Прочитано %n байт и сохранено в файл
%1</source>
        <translation>
            <numerusform>%n byte read and saved to the file
%1</numerusform>
            <numerusform>%n bytes read and saved to the file
%1</numerusform>
        </translation>
    </message>
    <message>
        <source>Данные совпадают</source>
        <translation>The data match</translation>
    </message>
    <message numerus="yes">
        <source>Проверено %n байт за %1 с: данные совпадают</source>
        <translation>
            <numerusform>Verified: %n byte in %1 s, the data match</numerusform>
            <numerusform>Verified: %n bytes in %1 s, the data match</numerusform>
        </translation>
    </message>
    <message>
        <source>Проверка за %1 с: %2, первый с адреса %3</source>
        <translation>Verified in %1 s: %2, the first at address %3</translation>
    </message>
    <message numerus="yes">
        <source>отличаются %n байт</source>
        <translation>
            <numerusform>%n byte differs</numerusform>
            <numerusform>%n bytes differ</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>в %n диапазонах</source>
        <translation>
            <numerusform>in %n range</numerusform>
            <numerusform>in %n ranges</numerusform>
        </translation>
    </message>
    <message>
        <source>Проверка прервана через %1 с: проверено байт %2 из %3</source>
        <translation>Verify cancelled after %1 s: bytes verified %2 of %3</translation>
    </message>
    <message>
        <source>Проверка не удалась через %1 с: проверено байт %2 из %3</source>
        <translation>Verify failed after %1 s: bytes verified %2 of %3</translation>
    </message>
    <message numerus="yes">
        <source>Прочитано %n байт за %1 с и сохранено в %2</source>
        <translation>
            <numerusform>Read: %n byte in %1 s, saved to %2</numerusform>
            <numerusform>Read: %n bytes in %1 s, saved to %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Прочитано %n байт за %1 с, файл не записан</source>
        <translation>
            <numerusform>Read: %n byte in %1 s, no file written</numerusform>
            <numerusform>Read: %n bytes in %1 s, no file written</numerusform>
        </translation>
    </message>
    <message>
        <source>Чтение прервано через %1 с: прочитано байт %2 из %3, файл не записан</source>
        <translation>Read cancelled after %1 s: bytes read %2 of %3, no file written</translation>
    </message>
    <message>
        <source>Чтение не удалось через %1 с: прочитано байт %2 из %3, файл не записан</source>
        <translation>Read failed after %1 s: bytes read %2 of %3, no file written</translation>
    </message>
    <message>
        <source>Чтение</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Прервать проверку данных ?</source>
        <translation>Stop verifying the device?</translation>
    </message>
    <message>
        <source>Прервать чтение данных ?</source>
        <translation>Stop reading the data?</translation>
    </message>
    <message>
        <source>Начальный адрес 0x%1 нечётный: flash программируется полусловами с чётного адреса</source>
        <translation>The start address 0x%1 is odd: the flash is programmed in half-words from an even address</translation>
    </message>
    <message>
        <source>Размер страницы %1 нечётный: flash программируется полусловами</source>
        <translation>The page size %1 is odd: the flash is programmed in half-words</translation>
    </message>
    <message>
        <source>Файл данных больше %1 байт — больше любого образа, который записывает программа:
%2</source>
        <translation>The data file is larger than %1 bytes, more than any image this program writes:
%2</translation>
    </message>
    <message>
        <source>Файл данных пуст:
%1</source>
        <translation>The data file is empty:
%1</translation>
    </message>
    <message>
        <source>В файле данных нет данных:
%1</source>
        <translation>The data file holds no data:
%1</translation>
    </message>
    <message>
        <source>Пропускать неизменённые страницы</source>
        <translation>Skip unchanged pages</translation>
    </message>
    <message>
        <source>Страницы, которые уже содержат образ, только читаются и остаются как есть: их не стирают и не записывают заново.</source>
        <translation>Pages that already hold the image are only read and left alone, not erased and rewritten.</translation>
    </message>
    <message>
        <source>SHA-256 считается по файлу, как он лежит на диске, а CRC-32 — по flash от наименьшего до наибольшего адреса образа, промежутки между данными как стёртые байты 0xFF.</source>
        <translation>The SHA-256 is of the file as it lies on disk, the CRC-32 of the flash from the image&apos;s lowest to its highest address, with the gaps as erased bytes (0xFF).</translation>
    </message>
    <message numerus="yes">
        <source>%1, %n байт, страниц: %2
SHA-256 %3
CRC-32 %4</source>
        <translation>
            <numerusform>%1, %n byte, pages: %2
SHA-256 %3
CRC-32 %4</numerusform>
            <numerusform>%1, %n bytes, pages: %2
SHA-256 %3
CRC-32 %4</numerusform>
        </translation>
    </message>
    <message>
        <source>двоичный</source>
        <translation>binary</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Открыть файл данных...</source>
        <translation>Open data file...</translation>
    </message>
    <message>
        <source>Недавние файлы</source>
        <translation>Recent files</translation>
    </message>
    <message>
        <source>Записать файл данных в прибор (%1)</source>
        <translation>Write the data file to the device (%1)</translation>
    </message>
    <message>
        <source>Прервать задание (%1)</source>
        <translation>Stop the job (%1)</translation>
    </message>
    <message>
        <source>Сравнение</source>
        <translation>Comparing</translation>
    </message>
    <message>
        <source>Прервать сравнение данных ?</source>
        <translation>Stop comparing the data?</translation>
    </message>
    <message numerus="yes">
        <source>%1, страниц без изменений: %n</source>
        <translation>
            <numerusform>%1, %n page unchanged</numerusform>
            <numerusform>%1, %n pages unchanged</numerusform>
        </translation>
    </message>
    <message>
        <source>Проект Tamrivo</source>
        <translation>Tamrivo project</translation>
    </message>
    <message>
        <source>Образ %1 изменён после сохранения проекта %2:
SHA-256 сейчас %3..., в проекте %4...</source>
        <translation>The image %1 was changed since the project %2 was saved:
its SHA-256 is %3..., the project&apos;s %4...</translation>
    </message>
    <message>
        <source>Открыть проект...</source>
        <translation>Open project...</translation>
    </message>
    <message>
        <source>Сохранить проект...</source>
        <translation>Save project...</translation>
    </message>
    <message>
        <source>Закрыть проект</source>
        <translation>Close project</translation>
    </message>
    <message>
        <source>Недавние проекты</source>
        <translation>Recent projects</translation>
    </message>
    <message>
        <source>Открытие проекта</source>
        <translation>Open Project</translation>
    </message>
    <message>
        <source>Не удается открыть проект
%1</source>
        <translation>Cannot open the project
%1</translation>
    </message>
    <message>
        <source>Сохранение проекта</source>
        <translation>Save Project</translation>
    </message>
    <message>
        <source>Не удается сохранить проект
%1</source>
        <translation>Cannot save the project
%1</translation>
    </message>
    <message>
        <source>Открыт проект: образ меняется только после «Закрыть проект»</source>
        <translation>A project is open: the image changes only after “Close project”</translation>
    </message>
    <message>
        <source>Прибор не сообщил параметры flash: не проверить, тот ли это прибор, для которого проект</source>
        <translation>The device did not report its flash parameters: there is no telling whether it is the device the project is for</translation>
    </message>
    <message>
        <source>Прибор не тот, для которого проект:
прибор сообщает flash %1 – %2 страницами по %3 байт,
проект рассчитан на %4 – %5 страницами по %6 байт</source>
        <translation>Not the device the project is for:
the device reports flash %1 – %2 in %3-byte pages,
the project is for %4 – %5 in %6-byte pages</translation>
    </message>
    <message>
        <source>Указатель стека по адресу %1 — стёртая flash (0xffffffff): в образе нет таблицы векторов</source>
        <translation>The stack pointer at %1 is erased flash (0xffffffff): the image holds no vector table there</translation>
    </message>
    <message>
        <source>Указатель стека %1 не кратен 4</source>
        <translation>The stack pointer %1 is not a multiple of 4</translation>
    </message>
    <message>
        <source>Указатель стека %1 лежит во flash (%2 – %3), а стек должен лежать в ОЗУ</source>
        <translation>The stack pointer %1 lies in the flash (%2 – %3); a stack lies in RAM</translation>
    </message>
    <message>
        <source>Адрес обработчика сброса %1 чётный: код Cortex-M выполняется по нечётным адресам (Thumb)</source>
        <translation>The reset handler %1 is even: Cortex-M code runs at odd addresses (Thumb)</translation>
    </message>
    <message>
        <source>Обработчик сброса %1 лежит ниже начального адреса %2: образ, видимо, собран для адреса %3</source>
        <translation>The reset handler %1 lies below the start address %2: the image seems linked for %3</translation>
    </message>
    <message>
        <source>Обработчик сброса %1 лежит ниже начального адреса %2: образ, видимо, собран для другого адреса</source>
        <translation>The reset handler %1 lies below the start address %2: the image seems linked for another address</translation>
    </message>
    <message>
        <source>Обработчик сброса %1 лежит там, где образ ничего не записывает (%2 – %3)</source>
        <translation>The reset handler %1 lies where the image programs nothing (%2 – %3)</translation>
    </message>
    <message>
        <source>Записать всё равно?</source>
        <translation>Write anyway?</translation>
    </message>
    <message>
        <source>База записей</source>
        <translation>Record store</translation>
    </message>
    <message>
        <source>Пароль для %1:</source>
        <translation>Password for %1:</translation>
    </message>
    <message>
        <source>Производство</source>
        <translation>Production</translation>
    </message>
    <message>
        <source>Станция %1</source>
        <translation>Station %1</translation>
    </message>
    <message>
        <source>Номер платы по адресу %1 должен лежать в страницах образа, на стёртых байтах</source>
        <translation>The board's serial number at %1 must lie in the image's pages, on erased bytes</translation>
    </message>
    <message>
        <source>Программирование платы…</source>
        <translation>Programming the board…</translation>
    </message>
    <message>
        <source>Вставьте следующую плату и нажмите F5</source>
        <translation>Seat the next board and press F5</translation>
    </message>
    <message>
        <source>В журнале %1 ждут записи, которые база ещё не приняла: номер не выдаётся</source>
        <translation>Records the store has not taken wait in the journal %1: no serial number is given out</translation>
    </message>
    <message>
        <source>Номер %1 не помещается в формат: пул исчерпан</source>
        <translation>Number %1 does not fit the format: the pool is used up</translation>
    </message>
    <message>
        <source>Не удалось прочитать место номера</source>
        <translation>The serial number's place could not be read</translation>
    </message>
    <message>
        <source>Номер %1 возвращён в пул</source>
        <translation>Number %1 went back to the pool</translation>
    </message>
    <message>
        <source>Номер %1 аннулирован</source>
        <translation>Number %1 is void</translation>
    </message>
    <message>
        <source>Номер %1 удержан: плата может его нести</source>
        <translation>Number %1 is held: the board may carry it</translation>
    </message>
    <message>
        <source>Номер %1 под вопросом</source>
        <translation>Number %1 is in doubt</translation>
    </message>
    <message>
        <source>Плата сохранила свой номер (доработка)</source>
        <translation>The board kept its number (rework)</translation>
    </message>
    <message>
        <source>Запись ждёт в журнале %1: %2</source>
        <translation>The record waits in the journal %1: %2</translation>
    </message>
    <message>
        <source>Запись потеряна: %1</source>
        <translation>The record is lost: %1</translation>
    </message>
    <message>
        <source>Плата %1 готова</source>
        <translation>Board %1 done</translation>
    </message>
    <message>
        <source>Плата не готова: %1</source>
        <translation>Board failed: %1</translation>
    </message>
    <message>
        <source>Снимите плату</source>
        <translation>Take the board out</translation>
    </message>
    <message>
        <source>Ожидание новой платы…</source>
        <translation>Waiting for a new board…</translation>
    </message>
    <message>
        <source>Не удается открыть базу записей линии
%1</source>
        <translation>Cannot open the line&apos;s record store
%1</translation>
    </message>
</context>
<context>
    <name>FlashMapView</name>
    <message>
        <source>Вне образа</source>
        <translation>Outside the image</translation>
    </message>
    <message>
        <source>Ожидает</source>
        <translation>To do</translation>
    </message>
    <message>
        <source>Стёрта</source>
        <translation>Erased</translation>
    </message>
    <message>
        <source>Записана</source>
        <translation>Written</translation>
    </message>
    <message>
        <source>Пустая (0xFF)</source>
        <translation>Blank (0xFF)</translation>
    </message>
    <message>
        <source>Без изменений</source>
        <translation>Unchanged</translation>
    </message>
    <message>
        <source>Проверена</source>
        <translation>Verified</translation>
    </message>
    <message>
        <source>Прочитана</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>%1 – %2, страниц: %3</source>
        <translation>%1 – %2, %3 pages</translation>
    </message>
    <message>
        <source>Байт в копии: %1</source>
        <translation>Bytes in the backup: %1</translation>
    </message>
    <message>
        <source>Байт образа: %1</source>
        <translation>Image bytes: %1</translation>
    </message>
</context>
<context>
    <name>DifferenceRanges</name>
    <message>
        <source>Адрес</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Длина</source>
        <translation>Length</translation>
    </message>
</context>
<context>
    <name>DifferenceView</name>
    <message>
        <source>Различия</source>
        <translation>Differences</translation>
    </message>
    <message>
        <source>Диапазоны</source>
        <translation>Ranges</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Устройство</source>
        <translation>Device</translation>
    </message>
    <message numerus="yes">
        <source>Отличаются %n байт</source>
        <translation>
            <numerusform>%n byte differs</numerusform>
            <numerusform>%n bytes differ</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>в %n диапазонах</source>
        <translation>
            <numerusform>in %n range</numerusform>
            <numerusform>in %n ranges</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Показано начало диапазона: ещё %n байт не показаны</source>
        <translation>
            <numerusform>The start of the range is shown: %n more byte is not</numerusform>
            <numerusform>The start of the range is shown: %n more bytes are not</numerusform>
        </translation>
    </message>
    <message>
        <source>Устарело: после этой проверки устройство или файл изменились. Проверьте снова.</source>
        <translation>Out of date: the device or the file has changed since this verify. Verify again.</translation>
    </message>
    <message>
        <source>Различия (устарело)</source>
        <translation>Differences (out of date)</translation>
    </message>
</context>
<context>
    <name>ProductionPanel</name>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Номер</source>
        <translation>Number</translation>
    </message>
    <message>
        <source>Результат</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>Следующая плата (%1)</source>
        <translation>Next board (%1)</translation>
    </message>
    <message>
        <source>Автозапуск: начинать, когда вставлена новая плата</source>
        <translation>Automatic start: begin when a new board is seated</translation>
    </message>
    <message>
        <source>✔ ГОДНА</source>
        <translation>✔ PASS</translation>
    </message>
    <message>
        <source>✘ БРАК</source>
        <translation>✘ FAIL</translation>
    </message>
    <message>
        <source>■ ПРЕРВАНО</source>
        <translation>■ STOPPED</translation>
    </message>
    <message>
        <source>Номер: %1</source>
        <translation>Number: %1</translation>
    </message>
    <message>
        <source>Номер: нет</source>
        <translation>Number: none</translation>
    </message>
    <message>
        <source>Результат: %1</source>
        <translation>Result: %1</translation>
    </message>
    <message>
        <source>Сегодня: годных %1, брак %2</source>
        <translation>Today: %1 passed, %2 failed</translation>
    </message>
    <message>
        <source>Базу записей не удалось прочитать: %1</source>
        <translation>The record store could not be read: %1</translation>
    </message>
    <message>
        <source>✔ годна</source>
        <translation>✔ pass</translation>
    </message>
</context>
</TS>
