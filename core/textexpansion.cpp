// SPDX-License-Identifier: GPL-3.0-or-later
#include "textexpansion.h"

#include "kestapplication.h"
#include "variablestore.h"

#include <QDateTime>
#include <QMutexLocker>

#include <functional>

namespace kestTextExpansion {

namespace {

// True when the sign at index belongs to the exponent of a number such as "1.5e+06": the "e"
// before it follows digits that start the operand.
bool isExponentSign(const QString &text, int from, int index)
{
    if (index - 2 < from || (text.at(index - 1) != QLatin1Char('e') && text.at(index - 1) != QLatin1Char('E')))
        return false;
    int start = index - 2;
    bool digits = false;
    while (start >= from && (text.at(start).isDigit() || text.at(start) == QLatin1Char('.'))) {
        digits = digits || text.at(start).isDigit();
        --start;
    }
    return digits && (start < from || text.at(start).isSpace() || QStringLiteral("+-*/").contains(text.at(start)));
}

int indexOfOperator(const QString &text, int from)
{
    for (int i = from; i < text.size(); ++i) {
        switch (text.at(i).unicode()) {
        case '+':
        case '-':
            if (isExponentSign(text, from, i))
                break;
            return i;
        case '*':
        case '/':
            return i;
        default:
            break;
        }
    }
    return -1;
}

double millisecondsSinceStart()
{
    const kestApplication *app = kestApplication::instance();
    const double start = app ? app->startTime() : 0.0;
    return double(QDateTime::currentMSecsSinceEpoch()) - start;
}

} // namespace

QString expandPlaceholders(const QString &text)
{
    if (!text.contains(QLatin1Char('$')))
        return text;
    // "$TIMER" before "$TIME", which is its prefix.
    const std::pair<QLatin1String, std::function<QString()>> placeholders[] = {
        { QLatin1String("$DATE"), [] { return QDate::currentDate().toString(QStringLiteral("yyyy.MM.dd")); } },
        // Whole milliseconds in full: six significant digits would turn into an exponent after
        // about 17 minutes.
        { QLatin1String("$TIMER"), [] { return QString::number(qint64(millisecondsSinceStart())); } },
        { QLatin1String("$TIME"), [] { return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")); } },
        { QLatin1String("$SUBPROJECT"), [] { return kestVariables::subProjectName(); } },
    };
    QString result = text;
    for (const auto &placeholder : placeholders) {
        if (result.contains(placeholder.first))
            result.replace(placeholder.first, placeholder.second());
    }
    return result;
}

QString evaluateBrackets(const QString &text)
{
    QString result = text;
    int previousOpen = -1;
    for (;;) {
        const int open = result.indexOf(QLatin1Char('['));
        if (open < 0 || open == previousOpen)
            break;
        previousOpen = open;
        const int close = result.indexOf(QLatin1Char(']'), open + 1);
        if (close < 0)
            break;
        const QString expression = result.mid(open + 1, close - open - 1);
        const int op = indexOfOperator(expression, 0);
        if (op < 0)
            break;
        // Only the first two operands count: "1+2+3" is 1+2.
        const int nextOp = indexOfOperator(expression, op + 1);
        // Trimmed before the lookup, so that "[ a + b ]" finds a and b.
        const QString leftText = expression.left(op).trimmed();
        const QString rightText = expression.mid(op + 1, nextOp < 0 ? -1 : nextOp - op - 1).trimmed();

        bool ok = false;
        const double left = kestVariables::resolveValue(leftText).toDouble(&ok);
        if (!ok)
            break;
        const double right = kestVariables::resolveValue(rightText).toDouble(&ok);
        if (!ok)
            break;
        double value = 0;
        switch (expression.at(op).unicode()) {
        case '+':
            value = left + right;
            break;
        case '-':
            value = left - right;
            break;
        case '*':
            value = left * right;
            break;
        default:
            value = left / right; // a zero divisor gives inf
            break;
        }
        result = result.left(open) + kestVariables::formatNumber(value) + result.mid(close + 1);
    }
    return result;
}

QString evaluateParentheses(const QString &text)
{
    QString result = text;
    // Scanning resumes behind what was inserted: a value holding "(name)" would otherwise be
    // expanded again and again.
    int from = 0;
    for (;;) {
        const int open = result.indexOf(QLatin1Char('('), from);
        if (open < 0)
            break;
        const int close = result.indexOf(QLatin1Char(')'), open + 1);
        if (close < 0)
            break;
        const QString inner = result.mid(open + 1, close - open - 1);
        const QString resolved = kestVariables::resolveValue(inner);
        const QString inserted = resolved == inner ? QString() : resolved;
        result = result.left(open) + inserted + result.mid(close + 1);
        from = open + inserted.size();
    }
    return result;
}

QString expand(const QString &text)
{
    // Most texts are plain names and values: nothing to evaluate, so no lock and no copies.
    const auto plain = [](const QString &s) { return !s.contains(QLatin1Char('[')) && !s.contains(QLatin1Char('(')); };
    if (!text.contains(QLatin1Char('$')) && plain(text))
        return text.trimmed();
    QString result = expandPlaceholders(text);
    if (plain(result))
        return result.trimmed();
    {
        QMutexLocker locker(&kestVariables::scriptMutex());
        result = evaluateBrackets(result);
        result = evaluateParentheses(result);
    }
    return result.trimmed();
}

} // namespace kestTextExpansion
