# The udev rules that keep ModemManager away from the station's sockets.
add_test(NAME SocketRules
  COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/socket_rules_test.sh" "${PROJECT_SOURCE_DIR}/res/udev/station-socket-rules.sh")
