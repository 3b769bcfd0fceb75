#include "Cmd.h"

#include "OemText.h"

Cmd::~Cmd() = default;

int Cmd::GetLength() const {
    return m_nLength;
}

const unsigned char* Cmd::GetData() const {
    return m_pData;
}

void Cmd::SetLength(int length) {
    m_nLength = length;
}

void Cmd::SetData(const unsigned char* data) {
    m_pData = data;
}

unsigned char* Cmd::AllocateBuffer(int capacity) {
    unsigned char* buffer = new unsigned char[static_cast<size_t>(capacity)]();
    delete[] m_pBuffer;
    m_pBuffer = buffer;
    m_pData = buffer;
    return buffer;
}

void Cmd::FreeBuffer() {
    if (m_pData == m_pBuffer) {
        m_pData = nullptr;
    }
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
}

std::string Cmd::OemField(const WideString& text, int units) {
    std::string field(static_cast<size_t>(units), '\0');
    if (units > 0) {
        ConvertToOem(text.substr(0, static_cast<size_t>(units)), reinterpret_cast<unsigned char*>(&field[0]),
                     units);
    }
    return field;
}
