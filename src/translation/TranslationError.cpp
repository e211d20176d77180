#include "translation/TranslationError.hpp"

namespace aurelo {

std::string TranslationError::description() const {
    switch (m_kind) {
    case Kind::InvalidResponse:
        if (m_payload && !m_payload->empty())
            return "翻译服务返回了无法识别的数据（" + *m_payload + "）。";
        return "翻译服务返回了无法识别的数据，请稍后重试。";
    case Kind::Server:
        return m_payload.value_or("");
    }
    return {};
}

DecodingError DecodingError::dataCorrupted() {
    return {"未能读取数据，因为它的格式不正确。"};
}

DecodingError DecodingError::keyNotFound(const std::string& key) {
    return {"未能读取数据，因为缺少“" + key + "”。"};
}

DecodingError DecodingError::typeMismatch(const std::string& key) {
    return {"未能读取数据，因为“" + key + "”的类型不正确。"};
}

DecodingError DecodingError::valueNotFound(const std::string& key) {
    return {"未能读取数据，因为“" + key + "”没有值。"};
}

std::string describe(const ServiceFailure& failure) {
    struct Visitor {
        std::string operator()(const TranslationError& e) const { return e.description(); }
        std::string operator()(const TransportError& e) const { return e.description; }
        std::string operator()(const DecodingError& e) const { return e.description; }
    };
    return std::visit(Visitor{}, failure);
}

} // namespace aurelo
