#include "language/translation_client.h"

#include <QHash>

#include <algorithm>
#include <utility>
#include <vector>

namespace tavrolin {

QCoro::Task<QList<TranslationResponse>> TranslationClient::translate(QList<TranslationRequest> requests,
                                                                     AppLanguage target) {
    if (requests.isEmpty()) {
        co_return QList<TranslationResponse>{};
    }

    // Groups by source in order of first appearance; request order is kept inside a group.
    std::vector<std::pair<AppLanguage, QList<qsizetype>>> groups;
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const auto source = requests[i].sourceLanguage;
        auto group =
            std::find_if(groups.begin(), groups.end(), [source](const auto& entry) { return entry.first == source; });
        if (group == groups.end()) {
            groups.emplace_back(source, QList<qsizetype>{i});
        } else {
            group->second.append(i);
        }
    }

    QHash<QString, QString> translatedById;
    for (const auto& [source, indexes] : groups) {
        QStringList texts;
        texts.reserve(indexes.size());
        for (const auto index : indexes) {
            texts.append(requests[index].text);
        }
        // A failure propagates: no partial result, later groups are not translated.
        const QStringList results = co_await translate(texts, source, target);
        for (qsizetype i = 0; i < indexes.size(); ++i) {
            const auto& request = requests[indexes[i]];
            translatedById.insert(request.id, i < results.size() ? results[i] : request.text);
        }
    }

    QList<TranslationResponse> responses;
    responses.reserve(requests.size());
    for (const auto& request : requests) {
        responses.append({request.id, translatedById.value(request.id, request.text)});
    }
    co_return responses;
}

}  // namespace tavrolin
