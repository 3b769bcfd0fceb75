// Base class of every printer command: a pointer to the bytes to send and their count.
#pragma once

#include <cstdint>
#include <string>

#include "commands/CmdCatalog.h"
#include "system/WideText.h"

/// One printer command. The bytes sent are exactly GetData()[0] .. GetData()[GetLength() - 1].
///
/// A fixed command points at a constant table shared by all its objects and owns nothing.
/// A built command allocates one buffer of fixed capacity in its constructor and frees it
/// in its destructor. Commands are complete when constructed and are never copied.
class Cmd {
  public:
    Cmd() = default;
    virtual ~Cmd();

    Cmd(const Cmd&) = delete;
    Cmd& operator=(const Cmd&) = delete;

    virtual int GetLength() const;
    virtual const unsigned char* GetData() const;
    /// Replaces the length only; copies nothing and changes no ownership.
    virtual void SetLength(int length);
    /// Replaces the data pointer only; copies nothing and changes no ownership.
    virtual void SetData(const unsigned char* data);

  protected:
    /// For built commands: allocates a zero-filled buffer of `capacity` bytes and points the
    /// command at it. The caller frees it with FreeBuffer() in its destructor.
    unsigned char* AllocateBuffer(int capacity);
    /// Frees the buffer that AllocateBuffer made, wherever SetData has pointed the command since.
    void FreeBuffer();
    /// For fixed commands: points the command at its catalogue row's header, which is all of it.
    void PointAt(CmdId id);
    /// For built commands: AllocateBuffer(capacity) with the catalogue row's header of `id` copied
    /// in. Returns where the fields go; EndFields(end) then sets the length up to `end`.
    unsigned char* BeginFields(CmdId id, int capacity);
    void EndFields(const unsigned char* end);
    /// Writes `value` most significant byte first; returns the byte after it.
    static unsigned char* PutFourBytes(unsigned char* at, uint32_t value);

    /// The bytes of a text field of `units` bytes: `text` converted to the OEM code page, whole
    /// characters only, at most `units` bytes, padded with 00 where a character did not fit.
    /// Converted before the buffer is allocated, so a failure cannot leak the buffer.
    static std::string OemField(const WideString& text, int units);

  private:
    const unsigned char* m_pData = nullptr;
    int m_nLength = 0;
    unsigned char* m_pBuffer = nullptr;  // the buffer this command allocated, if any
};
