#include "store/StoreError.h"

StoreError::StoreError(int code, const QString& message)
    : std::runtime_error(message.toStdString())
    , m_code(code) {}

ContextStoreError ContextStoreError::keychainFailure(qint32 status) {
    return ContextStoreError(Kind::KeychainFailure, status);
}

ContextStoreError::ContextStoreError(Kind kind, qint32 status)
    : std::runtime_error("keychainFailure(" + std::to_string(status) + ")")
    , m_kind(kind)
    , m_status(status) {}

StoreFileError::StoreFileError(const QString& message)
    : std::runtime_error(message.toStdString()) {}
