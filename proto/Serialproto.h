#pragma once
// A framer cuts the received byte stream into messages of one kind. It is fed every
// received byte, one at a time and in order, and answers whether that byte completed a
// message. A completed message stays in the framer's own buffer only until the next
// byte is fed, so the caller takes it (GetMsg/GetMsgLen) or copies it (CopyMsg) at once.
//
// The framers live for the whole run and are never deleted through this base, so it
// has no virtual destructor; the protected one keeps anyone from trying.

#include <cstdint>

class SerialProto {
public:
    // True when this byte completed a message.
    virtual bool ProcessByte(std::uint8_t byte) = 0;
    // Drops any partial message and starts hunting for a new one.
    virtual void Reset() = 0;
    // Copies at most maxCount bytes of the completed message to dest and returns the
    // message's full length (not the number of bytes copied).
    virtual unsigned CopyMsg(std::uint8_t* dest, unsigned maxCount) = 0;
    // First byte of the completed message.
    virtual const std::uint8_t* GetMsg() const = 0;
    // Length of the completed message in bytes.
    virtual std::uint16_t GetMsgLen() const = 0;

protected:
    SerialProto() = default;
    ~SerialProto() = default;
    SerialProto(const SerialProto&) = default;
    SerialProto& operator=(const SerialProto&) = default;
};
