#include "packet/CReplyKeyReader.h"

#include <simdjson.h>

#include <new>

#include "packet/CJsonText.h"
#include "packet/CMatchKey.h"

struct CReplyKeyReader::Impl {
    std::string strMember;
    simdjson::dom::parser parser;
};

CReplyKeyReader::CReplyKeyReader(std::string strMember) : m_pImpl(std::make_unique<Impl>())
{
    m_pImpl->strMember = std::move(strMember);
}

CReplyKeyReader::~CReplyKeyReader() = default;

bool CReplyKeyReader::Read(const char* pData, size_t nLength, uint64_t& nKey)
{
    try {
        simdjson::dom::element root;
        simdjson::dom::object object;
        if (!CJsonText::Parse(m_pImpl->parser, Packet{pData, static_cast<int32_t>(nLength)}, root) ||
            root.get_object().get(object) != simdjson::SUCCESS)
            return false;
        for (const simdjson::dom::key_value_pair member : object) {
            if (member.key == m_pImpl->strMember) {
                nKey = CJsonText::MatchKeyOf(member.value);
                return true;
            }
        }
    } catch (const std::bad_alloc&) {
    }
    return false;
}
