// SPDX-License-Identifier: GPL-3.0-or-later
// What a Text action does to its text: placeholders, bracket arithmetic, (variable) names.
#pragma once

#include <QString>

namespace kestTextExpansion {

// The whole expansion as a Text action runs it, trimmed. Placeholders are expanded without a
// lock; brackets and parentheses under the store's script mutex, which must not be held already.
QString expand(const QString &text);

// "$DATE", "$TIMER", "$TIME", "$SUBPROJECT", in that order; each value is inserted once and not
// expanded again, even when it holds a placeholder itself.
QString expandPlaceholders(const QString &text);

// Replaces "[a op b]" (op one of + - * /, a and b numbers or variable names) by the result, one
// bracket after the other. Stops at the first bracket that is unclosed, has no operator or an
// operand that is not a number, and leaves it and every later bracket as written.
QString evaluateBrackets(const QString &text);

// Replaces "(name)" by the variable's value; a name that resolves to itself vanishes with its
// parentheses. Inserted values are not scanned again. Stops at an unclosed "(".
QString evaluateParentheses(const QString &text);

} // namespace kestTextExpansion
