# Turns the provisioning key file named by OSTREL_KEY_FILE into the header ProvisioningKeys.h
# (expectedFirstKey, expectedSecondKey) in OUTPUT_DIR. A malformed file stops the configure
# step with the line at fault. Editing the key file re-runs the configure step.
function(ostrel_provisioning_keys KEY_FILE OUTPUT_DIR)
    if(NOT EXISTS "${KEY_FILE}")
        message(FATAL_ERROR "OSTREL_KEY_FILE: ${KEY_FILE} does not exist")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KEY_FILE}")

    file(STRINGS "${KEY_FILE}" _lines)
    set(_keys "")
    set(_number 0)
    foreach(_line IN LISTS _lines)
        math(EXPR _number "${_number} + 1")
        string(STRIP "${_line}" _line)
        if(_line STREQUAL "" OR _line MATCHES "^#")
            continue()
        endif()
        if(NOT _line MATCHES "^[0-9A-Fa-f]+$")
            message(FATAL_ERROR "${KEY_FILE}:${_number}: a key is hexadecimal digits only")
        endif()
        string(LENGTH "${_line}" _length)
        if(NOT _length EQUAL 64)
            message(FATAL_ERROR
                "${KEY_FILE}:${_number}: a key is 32 bytes (64 hex digits), this line has ${_length} digits")
        endif()
        string(TOLOWER "${_line}" _line)
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " _bytes "${_line}")
        string(REGEX REPLACE ", $" "" _bytes "${_bytes}")
        list(APPEND _keys "${_bytes}")
    endforeach()

    list(LENGTH _keys _count)
    if(NOT _count EQUAL 2)
        message(FATAL_ERROR "${KEY_FILE}: expected two keys (first, then second), found ${_count}")
    endif()
    list(GET _keys 0 FIRST_KEY)
    list(GET _keys 1 SECOND_KEY)
    get_filename_component(KEY_FILE_NAME "${KEY_FILE}" NAME)
    file(CONFIGURE OUTPUT "${OUTPUT_DIR}/ProvisioningKeys.h" CONTENT [[
#pragma once

#include <cstdint>

// Generated at configure time from @KEY_FILE_NAME@: the keys written into every MCU on the
// production line. Selector 0 reads the first key, selector 1 the second.
constexpr uint8_t expectedFirstKey[32] = {@FIRST_KEY@};
constexpr uint8_t expectedSecondKey[32] = {@SECOND_KEY@};
]] @ONLY)
endfunction()
