// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QIODevice>

#include <algorithm>

// A read-only device that cannot seek. kestXml::serialise lays out what a seekable device holds
// with its own plain reader and what this one holds with the stream reader alone, which is the
// reference for what is accepted and how it is laid out.
class SequentialDevice : public QIODevice
{
public:
    explicit SequentialDevice(const QByteArray &data)
        : m_data(data)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_data.size() - m_read + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 size) override
    {
        size = qMin(size, m_data.size() - m_read);
        std::copy(m_data.constData() + m_read, m_data.constData() + m_read + size, data);
        m_read += size;
        return size;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const QByteArray m_data;
    qint64 m_read = 0;
};
