#include "Console.h"

void Console::setBoxText(QByteArray text)
{
    mBoxText = std::move(text);
    emit boxChanged();
}

void Console::setStatusText(QByteArray text)
{
    mStatusText = std::move(text);
    emit statusChanged();
}

void Console::setStatusColour(QRgb colour)
{
    mStatusColour = colour;
    emit statusChanged();
}
