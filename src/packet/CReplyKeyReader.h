#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Reads the key (CMatchKey) of a reply's root member: the reply must be one
// strict JSON object holding the member (its first of that name counts).
// Holds a parser: one object per thread.
class CReplyKeyReader {
public:
    explicit CReplyKeyReader(std::string strMember);
    ~CReplyKeyReader();
    CReplyKeyReader(const CReplyKeyReader&) = delete;
    CReplyKeyReader& operator=(const CReplyKeyReader&) = delete;

    // False when the reply is not such an object.
    bool Read(const char* pData, size_t nLength, uint64_t& nKey);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
