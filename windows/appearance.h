#pragma once

#include <QColor>
#include <QString>

class QGroupBox;
class QWidget;

namespace corvalen {

/// Pixels for a length in twips (15 twips to the pixel at 96 dots per inch), rounded.
constexpr int twipsToPixels(int twips)
{
    return twips >= 0 ? (twips + 7) / 15 : -((-twips + 7) / 15);
}
constexpr int pixelsToTwips(int pixels)
{
    return pixels * 15;
}

/// The folder that holds the executable, without a trailing separator.
QString programFolder();

/// The skin file beside the program: "x/o.cjs" in the program folder.
QString skinFilePath(const QString &folder = programFolder());

/// Loads the skin (a Qt style sheet) from the skin file onto the main window, after giving it
/// the system colours. Without a readable, non-hidden skin file nothing changes. True when a
/// skin was applied.
bool applySkin(QWidget *mainWindow, const QString &folder = programFolder());

/// Gives the window, its labels, option buttons, check boxes and frames the system button-face
/// background. Other controls keep their colours.
void setSystemColors(QWidget *window);

/// Gives a widget a plain background of the given colour.
void setBackground(QWidget *widget, const QColor &colour);

/// Draws the frame's lines as the style draws them, but not the wash some styles (Fusion) lay
/// over its inside: the inside keeps the frame's own background, like the controls in it. With
/// firstControlTop (pixels from the frame's top) the top line runs in the caption's margin above
/// it, where a style would draw it lower, so that controls placed there do not cover it.
void drawFrameWithoutWash(QGroupBox *frame, int firstControlTop = -1);

/// Centres a window on its screen (the full screen, not the free area), unclamped.
void centerForm(QWidget *window);

/// Whether a path names an existing file or folder.
bool fileExists(const QString &path);

} // namespace corvalen
