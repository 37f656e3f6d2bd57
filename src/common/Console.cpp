#include "Console.h"

#include "Text8.h"

void Console::setBoxText(QByteArray text)
{
    mBoxText = std::move(text);
    mBoxChars = Text8::CharCount(mBoxText);
    emit boxChanged();
}

void Console::appendBoxText(const QByteArray& text, qsizetype chars)
{
    mBoxText += text;
    mBoxChars += chars;
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
