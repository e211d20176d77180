#include "web/SpellingDictionaries.hpp"

#include <algorithm>

namespace aurelo {

std::vector<std::string> dictionariesFor(ChatLanguage language) {
    // Enchant finds a dictionary by its file name, and a bare language code ("es") does not match
    // a file named for a region ("es_ES.dic"), so each language names the files its package has.
    switch (language) {
    case ChatLanguage::English:
        return {std::string(kEnglishDictionary)};
    case ChatLanguage::Spanish:
        return {"es_ES"};
    case ChatLanguage::French:
        return {"fr_FR"};
    case ChatLanguage::German:
        return {"de_DE"};
    case ChatLanguage::Italian:
        return {"it_IT"};
    case ChatLanguage::Portuguese:
        return {"pt_PT", "pt_BR"};
    case ChatLanguage::Korean:
        return {"ko_KR"};
    case ChatLanguage::Arabic:
        return {"ar"};
    case ChatLanguage::Russian:
        return {"ru_RU"};
    case ChatLanguage::Thai:
        return {"th_TH"};
    case ChatLanguage::Vietnamese:
        return {"vi_VN"};
    case ChatLanguage::Indonesian:
        return {"id_ID"};
    case ChatLanguage::Turkish:
        return {"tr_TR"};
    case ChatLanguage::Dutch:
        return {"nl_NL"};
    case ChatLanguage::Polish:
        return {"pl_PL"};
    case ChatLanguage::Hindi:
        return {"hi_IN"};
    case ChatLanguage::Hebrew:
        return {"he_IL"};
    case ChatLanguage::Swedish:
        return {"sv_SE"};
    case ChatLanguage::Norwegian:
        return {"nb_NO"};
    case ChatLanguage::Danish:
        return {"da_DK"};
    case ChatLanguage::Greek:
        return {"el_GR"};
    case ChatLanguage::Czech:
        return {"cs_CZ"};
    case ChatLanguage::Romanian:
        return {"ro_RO"};
    case ChatLanguage::Ukrainian:
        return {"uk_UA"};
    case ChatLanguage::Bengali:
        return {"bn_BD"};
    case ChatLanguage::Automatic:
    case ChatLanguage::Chinese:
    case ChatLanguage::Japanese:
    case ChatLanguage::Finnish:
    case ChatLanguage::Malay:
    case ChatLanguage::Filipino:
    case ChatLanguage::Urdu:
        return {};
    }
    return {};
}

std::vector<std::string> spellingDictionaries(ChatLanguage outgoing) {
    auto tags = dictionariesFor(outgoing);
    if (std::ranges::find(tags, kEnglishDictionary) == tags.end())
        tags.emplace_back(kEnglishDictionary);
    return tags;
}

} // namespace aurelo
