// SPDX-License-Identifier: GPL-3.0-or-later
// Values taken from course documents, as the scene document and its objects read them. Course
// values only ever become property values, never QML or script text.
.pragma library

var noValue = ";-;-;NoValue;-;-;";

// Made once: a regular expression literal is a new object each time it is evaluated, and a
// scene entry reads hundreds of values.
var blank = /^\s*$/;
var backslashes = /\\/g;
var leadingSlashes = /^\/+/;
var percents = /%/g;
var hashes = /#/g;
var questionMarks = /\?/g;
var scheme = /^[A-Za-z][A-Za-z0-9+.\-]+:/;

// The default for a missing (NoValue), empty or absent value.
function stValue(myvar, stdval) {
    if (myvar === undefined || myvar === null || myvar === noValue || myvar === "")
        return stdval;
    return myvar;
}

// A finite number, or the fallback for anything else (text, blanks, NaN, Infinity).
function toNumber(value, fallback) {
    if (typeof value === "number")
        return isFinite(value) ? value : fallback;
    if (value === undefined || value === null || blank.test(value))
        return fallback;
    var n = Number(value);
    return isFinite(n) ? n : fallback;
}

// A text size of the 1600-wide frame in pixels of a scene that wide, at least one.
function textPixels(size, sceneWidth) {
    return Math.max(1, Math.floor(size / 1600 * sceneWidth));
}

// Colour texts checked so far: a scene entry asks about the same few for a hundred entities.
// Bounded, since a course could write any number of different ones.
var checkedColors = Object.create(null);
var checkedColorCount = 0;

function isColor(value) {
    if (typeof value === "string") {
        var known = checkedColors[value];
        if (known !== undefined)
            return known;
        if (checkedColorCount >= 500) {
            checkedColors = Object.create(null);
            checkedColorCount = 0;
        }
        known = checkedColor(value);
        checkedColors[value] = known;
        ++checkedColorCount;
        return known;
    }
    return checkedColor(value);
}

function checkedColor(value) {
    try {
        return Qt.colorEqual(value, value);
    } catch (e) {
        return false;
    }
}

// Only "#" colours are accepted as an entity's background; anything else is see-through.
function entityColor(value) {
    var col = stValue(value, "transparent");
    if (col !== "transparent" && (String(col).charAt(0) !== "#" || !isColor(col)))
        col = "transparent";
    return col;
}

function textColor(value) {
    var col = stValue(value, "black");
    return isColor(col) ? col : "black";
}

// Local path to URL. "#", "?" and "%" are file name characters here, not URL syntax.
function fileUrl(path) {
    var p = String(path).replace(backslashes, "/").replace(leadingSlashes, "");
    return "file:///" + p.replace(percents, "%25").replace(hashes, "%23").replace(questionMarks, "%3F");
}

// Sound actions send URLs; anything without a scheme (a drive letter is none) is a path.
function mediaUrl(file) {
    var f = String(file);
    return scheme.test(f) ? f : fileUrl(f);
}

// What a box is called for assistive tools: its Alt text, else its text, else the words of its
// picture's file name.
function accessibleName(altText, text, picture) {
    return altText !== "" ? altText : (text !== "" ? text : readableFileName(picture));
}

// A picture's file name as words: "file:///c/pics/red_apple.png" -> "red apple".
function readableFileName(url) {
    var s = String(url);
    if (s === "")
        return "";
    s = s.substring(s.lastIndexOf("/") + 1);
    var dot = s.lastIndexOf(".");
    if (dot > 0)
        s = s.substring(0, dot);
    try {
        s = decodeURIComponent(s);
    } catch (e) {
    }
    return s.replace(/[_\-.]+/g, " ").replace(/\s+/g, " ").trim();
}
