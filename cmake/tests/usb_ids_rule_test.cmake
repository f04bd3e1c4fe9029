# cmake -P: the udev rule made from ORVANE_USB_IDS names exactly those ids,
# padded and in lower case, and a value of another form is refused.
include(${CMAKE_CURRENT_LIST_DIR}/../UsbIds.cmake)

orvane_usb_ids_rule("1D6B:0A2,abcd:ef01," text)
set(expected "# Orvane head-tracking cameras: the logged-in user may use them (the uaccess tag).
# Made by the build from its ORVANE_USB_IDS setting: 1D6B:0A2,abcd:ef01,
SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"1d6b\", ATTR{idProduct}==\"00a2\", TAG+=\"uaccess\"
SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"abcd\", ATTR{idProduct}==\"ef01\", TAG+=\"uaccess\"
")
if(NOT text STREQUAL expected)
  message(FATAL_ERROR "rule:\n${text}\nexpected:\n${expected}")
endif()

# A bad value stops a configuration: run one that only checks it.
foreach(bad "12345:0001" "zz:01" "1234")
  execute_process(COMMAND ${CMAKE_COMMAND} -DIDS=${bad} -P ${CMAKE_CURRENT_LIST_DIR}/usb_ids_rule_check.cmake
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(rc EQUAL 0 OR NOT err MATCHES "ORVANE_USB_IDS")
    message(FATAL_ERROR "\"${bad}\" was accepted: ${err}")
  endif()
endforeach()
message(STATUS "udev rule: ok")
