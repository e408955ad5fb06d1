#pragma once

#include <QLatin1StringView>

namespace corvalen {

/// The designer names of the two windows' controls: the objectName of each widget in the .ui
/// forms and, for the persisted ones, the key under which the settings store keeps its state.
/// Code and tests refer to controls only through these constants.
namespace designer {

// Main window
inline constexpr QLatin1StringView Form1{"Form1"};
inline constexpr QLatin1StringView CommandBars{"CommandBars"};
inline constexpr QLatin1StringView MenuBar{"MenuBar"};
inline constexpr QLatin1StringView Standard{"Standard"};
inline constexpr QLatin1StringView ProgressBar1{"ProgressBar1"};
inline constexpr QLatin1StringView TabControl1{"TabControl1"};
inline constexpr QLatin1StringView ListView1{"ListView1"};
inline constexpr QLatin1StringView Frame1{"Frame1"};
inline constexpr QLatin1StringView Option1{"Option1"};
inline constexpr QLatin1StringView Option2{"Option2"};
inline constexpr QLatin1StringView Check1{"Check1"};
inline constexpr QLatin1StringView Check3{"Check3"};

// Main window menus (QMenu) and menu items (QAction; m4, m7, m12 and m20 are separators)
inline constexpr QLatin1StringView m1{"m1"}, m9{"m9"}, m14{"m14"}, m16{"m16"};
inline constexpr QLatin1StringView m2{"m2"}, m3{"m3"}, m4{"m4"}, m5{"m5"}, m6{"m6"}, m7{"m7"},
        m8{"m8"};
inline constexpr QLatin1StringView m10{"m10"}, m11{"m11"}, m12{"m12"}, m13{"m13"};
// Tools > Corpus Workbench... (m14 the menu, m15 its item), the one addition to the menu bar.
inline constexpr QLatin1StringView m15{"m15"};
inline constexpr QLatin1StringView m17{"m17"}, m18{"m18"}, m19{"m19"}, m20{"m20"}, m21{"m21"},
        m22{"m22"};

// Results window (its list is also named ListView1, inside Form2)
inline constexpr QLatin1StringView Form2{"Form2"};
inline constexpr QLatin1StringView Label1{"Label1"};

// Word Rules dialog (Options > Word Rules...): the words (plain rules, Unicode or corpus words),
// hyphens split, where paragraphs end, all punctuation, the stop-word lists and the button that
// adds one from a file, minimum length, word forms, phrase length, and the button that restores
// the defaults. The persisted ones are settings keys. Check4, the Unicode words check box the
// choice of words replaced, is still read from stored settings.
inline constexpr QLatin1StringView Form3{"Form3"};
inline constexpr QLatin1StringView Check4{"Check4"};
inline constexpr QLatin1StringView Combo3{"Combo3"};
inline constexpr QLatin1StringView Check6{"Check6"};
inline constexpr QLatin1StringView Combo4{"Combo4"};
inline constexpr QLatin1StringView Check5{"Check5"};
inline constexpr QLatin1StringView List1{"List1"};
inline constexpr QLatin1StringView Command1{"Command1"};
inline constexpr QLatin1StringView UpDown1{"UpDown1"};
inline constexpr QLatin1StringView Combo1{"Combo1"};
inline constexpr QLatin1StringView UpDown2{"UpDown2"};
inline constexpr QLatin1StringView Command2{"Command2"};
// Word forms grouped by lemma: the lemma sources (a settings key too) and the button that adds a
// list of the user's.
inline constexpr QLatin1StringView LemmaLists{"LemmaLists"};
inline constexpr QLatin1StringView AddLemmaList{"AddLemmaList"};
// The letter case of the workbench's own rules: shown only when the dialog edits them (under
// "Workbench/", as its other keys are then).
inline constexpr QLatin1StringView Check7{"Check7"};

} // namespace designer

/// Toolbar command ids; each is also the id of the button's icon.
namespace command {
inline constexpr int AddFiles = 1000, AddFolder = 1001, Start = 1002, ClearList = 1003;
inline constexpr int SaveResults = 1000, SaveExcel = 1001, SaveClipboard = 1002, Back = 1004;
} // namespace command

} // namespace corvalen
