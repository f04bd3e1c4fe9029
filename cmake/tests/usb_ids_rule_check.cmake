# cmake -DIDS=<ids> -P: makes the rule for IDS (fails on a bad value).
include(${CMAKE_CURRENT_LIST_DIR}/../UsbIds.cmake)
orvane_usb_ids_rule("${IDS}" text)
