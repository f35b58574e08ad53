#pragma once

#include <cstddef>
#include <iosfwd>

/// Where failures the user must know about are also written (stderr in the programs): a stream
/// that exists, or a function that makes one when the first message comes. A program that never
/// has anything to say then never sets up a stream, nor the C++ locale that the first stream
/// sets up, which would stay in its memory for as long as it runs. Used like a pointer to the
/// stream: test it, then write to *it. None: nothing is written.
class ErrorStream {
public:
    ErrorStream() = default;
    // Implicit, as a pointer converts: a null pointer is no stream.
    ErrorStream(std::nullptr_t) {}
    ErrorStream(std::ostream* stream) : m_stream(stream) {}
    explicit ErrorStream(std::ostream& (*make)()) : m_make(make) {}

    explicit operator bool() const { return m_stream != nullptr || m_make != nullptr; }
    /// Only when there is a stream: the existing one, or the one |make| returns.
    std::ostream& operator*() const { return m_stream != nullptr ? *m_stream : m_make(); }

private:
    std::ostream* m_stream = nullptr;
    std::ostream& (*m_make)() = nullptr;
};
