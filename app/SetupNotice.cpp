#include "app/SetupNotice.h"

void SetupNotice::set(std::optional<Offer> offer) {
    m_offer = std::move(offer);
    m_result.clear();
    Q_EMIT changed();
}

QString SetupNotice::actionLabel() const {
    return m_offer && m_offer->act && m_result.isEmpty() ? m_offer->actionLabel : QString();
}

void SetupNotice::act() {
    if (actionLabel().isEmpty())
        return;
    m_result = m_offer->act();
    Q_EMIT changed();
}
