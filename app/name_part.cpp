#include "app/name_part.h"

namespace tolvex::app {

QString NamePart(const QString& path) {
    qsizetype start = 0;
    for (qsizetype i = path.size(); i > 0; --i) {
        const QChar c = path.at(i - 1);
        if (c == u'\\' || c == u':' || c == u'/') {
            start = i;
            break;
        }
    }
    QString name = path.mid(start);
    if (name.size() > kMaxNamePart) {
        qsizetype cut = kMaxNamePart;
        if (name.at(cut - 1).isHighSurrogate()) {
            --cut;
        }
        name.truncate(cut);
    }
    return name;
}

QStringList QtNameFilters(const QString& pipeFilter) {
    QStringList filters;
    const QStringList parts = pipeFilter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts.at(i).trimmed();
        QString patterns = parts.at(i + 1).trimmed();
        patterns.replace(u';', u' ');
        const QString suffix = QStringLiteral("(%1)").arg(patterns);
        filters << (description.endsWith(suffix)
                        ? description
                        : QStringLiteral("%1 %2").arg(description, suffix));
    }
    return filters;
}

}  // namespace tolvex::app
