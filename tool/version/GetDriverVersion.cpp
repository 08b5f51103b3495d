#include "version/GetDriverVersion.h"

#include <cstring>
#include <exception>
#include <string>

#include "log/Log.h"
#include "version/ComponentTable.h"
#include "version/VersionQuery.h"
#include "version/VersionText.h"

namespace {

int32_t RegistryVersion(const ComponentEntry& entry, char* versionBuffer, int32_t* versionLength) {
    VersionQuery query{};
    const RegistryVersionSource* source = FindRegistrySource(static_cast<int32_t>(entry.kind));
    const int code =
        source == nullptr ? 1 : QueryRegistryVersion(source->subKey, source->valueName, query);
    if (code != 0) {
        LogError("Retrieve App version Failed! error code:" + std::to_string(code));
        return code;
    }
    *versionLength = query.length;
    std::memcpy(versionBuffer, query.text, query.length);
    versionBuffer[query.length] = '\0';
    return 0;
}

int32_t McuVersion(const ComponentEntry& entry, char* versionBuffer, int32_t* versionLength) {
    VersionQuery query{};
    const int code = QueryMcuVersion(entry.kind, query.text, query.length);
    if (code != 0) {
        return code;
    }
    *versionLength = query.length;
    // A reply of another model or layout is not an error: the caller gets the empty string.
    ExtractVersionText(std::string(query.text), entry.tag, entry.variant, versionBuffer,
                       *versionLength);
    return 0;
}

int32_t LookUpVersion(const char* componentName, char* versionBuffer, int32_t bufferLength,
                      int32_t* versionLength) {
    if (bufferLength == 0 || componentName == nullptr || versionBuffer == nullptr ||
        versionLength == nullptr) {
        LogError("The length of DeviceID should not be zero!");
        return 1;
    }
    const int index = FindComponent(componentName);
    if (index < 0) {
        LogError("The Device name is Not find! string id is :" + std::to_string(index));
        return 1;
    }
    const ComponentEntry& entry = ComponentTable[index];
    if (entry.kind >= McuSoftware && entry.kind <= PenApp) {
        return RegistryVersion(entry, versionBuffer, versionLength);
    }
    if (entry.kind >= KeyboardMcu && entry.kind <= TouchpadMcu) {
        return McuVersion(entry, versionBuffer, versionLength);
    }
    return 5;
}

} // namespace

extern "C" OSTREL_EXPORT int32_t OSTREL_CALL GetDriverVersion(const char* componentName,
                                                              char* versionBuffer,
                                                              int32_t bufferLength,
                                                              int32_t* versionLength) {
    // Nothing may be thrown across the export.
    try {
        return LookUpVersion(componentName, versionBuffer, bufferLength, versionLength);
    } catch (const std::exception&) {
        return 7;
    }
}
