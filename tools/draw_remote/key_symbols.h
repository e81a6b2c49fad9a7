#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPoint>

enum class Symbol {
    Power,
    BigAndThree,  // one large pane, the next three numbers stacked at its right
    Columns,      // narrow 1, 2 over 3, narrow 4
    Pair,         // two panes side by side
    Blank,
    Speaker,
    Mute,
    OutputSize,
    Single,
    Grid,
};

struct KeyArt {
    QColor cap;
    Symbol symbol;
    int number;  // first pane or channel the symbol shows; 0 when it shows none
};

QFont digitFont(int pixelSize);

// Prints the key's symbol centred on `centre`.
void drawSymbol(QPainter& p, QPoint centre, const KeyArt& key);
