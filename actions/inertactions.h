// SPDX-License-Identifier: GPL-3.0-or-later
// Action types that scripts may contain but that have no effect: they build (with their
// children, which are never executed) and return "" when executed.
#pragma once

#include "kestobject.h"

// Common behaviour of the inert types.
class InertAction : public kestObject
{
    Q_OBJECT
public:
    QString execute() override { return QString(); }
};

// One line per type reads as the list it is.
// clang-format off
class ActionResult : public InertAction { Q_OBJECT };
class AddNum : public InertAction { Q_OBJECT };
class AddObject : public InertAction { Q_OBJECT };
class AppendText : public InertAction { Q_OBJECT };
class Batch : public InertAction { Q_OBJECT };
class ContainerShortcut : public InertAction { Q_OBJECT };
class CopyText : public InertAction { Q_OBJECT };
class CreateDirectory : public InertAction { Q_OBJECT };
class DataSet : public InertAction { Q_OBJECT };
class DeleteDirectory : public InertAction { Q_OBJECT };
class DeleteFile : public InertAction { Q_OBJECT };
class DirectoryInfo : public InertAction { Q_OBJECT };
class DivideNum : public InertAction { Q_OBJECT };
class File : public InertAction { Q_OBJECT };
class FileInfo : public InertAction { Q_OBJECT };
class FileStream : public InertAction { Q_OBJECT };
class Log : public InertAction { Q_OBJECT };
class Memory : public InertAction { Q_OBJECT };
class MemoryAction : public InertAction { Q_OBJECT };
class MemoryStream : public InertAction { Q_OBJECT };
class MultiplyNum : public InertAction { Q_OBJECT };
class Null : public InertAction { Q_OBJECT };
class NumEquals : public InertAction { Q_OBJECT };
class NumberFromText : public InertAction { Q_OBJECT };
class Password : public InertAction { Q_OBJECT };
class Sentence : public InertAction { Q_OBJECT };
class SetPosition : public InertAction { Q_OBJECT };
class Stream : public InertAction { Q_OBJECT };
class StringStream : public InertAction { Q_OBJECT };
class SubtractNum : public InertAction { Q_OBJECT };
class TextFromDataSet : public InertAction { Q_OBJECT };
class TextFromNumber : public InertAction { Q_OBJECT };
class WhileLoop : public InertAction { Q_OBJECT };
// clang-format on
