// Every text kelvo writes, defined once, stored as code page 866 bytes.
#pragma once

#include "common/cp866.h"

namespace text {
inline constexpr Cp866Text kBanner1{u8"Утилита удаления  файлов получаемых при компиляции."};
inline constexpr Cp866Text kBanner2{u8"Для помощи используйте опцию /?."};
inline constexpr Cp866Text kBanner3{u8"   Версия 1.6.2(32)  (c) kelvo authors"};
inline constexpr Cp866Text kAskStart{u8"Будет удаление файлов, Вы уверены ? Y/N: "};
inline constexpr Cp866Text kRemoving{u8"Удаляется файл:  "};
inline constexpr Cp866Text kConfirm{u8"Подтверждаете Y/N:  "};
inline constexpr Cp866Text kCannotRemove{u8"Не могу удалить файл: "};
inline constexpr Cp866Text kCannotEnter{u8"Не могу сменить каталог:"};
inline constexpr Cp866Text kRemovedSize{u8"Размер удаленных файлов : "};
inline constexpr Cp866Text kFreed{u8"Освобождено на диске    : "};
inline constexpr Cp866Text kBytes{u8" байт"};
inline constexpr Cp866Text kCannotWrite{u8"Не могу записать вывод, удаление остановлено."};
inline constexpr Cp866Text kStopped{u8"Программа остановлена по Ctrl-Break."};
inline constexpr Cp866Text kParameterError{u8"Ошибка в параметре:"};

inline constexpr Cp866Text kHelpCall{u8"Вызов: "};
inline constexpr Cp866Text kHelpCallTail{u8" [опции] [директория]."};
inline constexpr Cp866Text kHelpDirectory{
    u8"[директория] - директория с которой начинается удаление файлов."};
inline constexpr Cp866Text kHelpOptions{u8"Опции:"};
inline constexpr Cp866Text kHelpQuery{u8"/? - вызов помощи."};
inline constexpr Cp866Text kHelpS{u8"/s - удаление файлов в поддиректориях."};
inline constexpr Cp866Text kHelpY{u8"/y - удаление файлов без подтверждения."};
inline constexpr Cp866Text kHelpN{u8"/n - запуск программы без начального подтверждения."};
inline constexpr Cp866Text kHelpT{u8"/t - удаление файлов без маски заданной в файле "};
inline constexpr Cp866Text kHelpFile{u8"Файл "};
inline constexpr Cp866Text kHelpTabTail{u8" содержит маски файлов безусловного удаления."};
inline constexpr Cp866Text kHelpExtTail{u8" расширения файлов для удаления."};
inline constexpr Cp866Text kHelpFiles{u8"Файлы "};
inline constexpr Cp866Text kHelpAnd{u8" и "};
inline constexpr Cp866Text kHelpBeside{u8" должны находится там же, где и файл "};
// On Linux the files are also looked for in the configuration directories;
// the line, with the names of lines 9 and 10 left out, fits 80 columns.
inline constexpr Cp866Text kHelpSought{u8"Оба файла ищутся рядом с "};
inline constexpr Cp866Text kHelpSoughtTail{u8", затем в ~/.config/kelvo/ и /etc/xdg/kelvo/."};
}  // namespace text
