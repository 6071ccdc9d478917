# Sourced, from the project's root, by the scripts that run the test suites:
# start_suite_services starts a private desktop and sound server and exports
# what the suites need; stop_suite_services stops both.
start_suite_services() {
  eval "$(bash scripts/desktop.sh start)"
  eval "$(bash scripts/sound-server.sh start)"
  # With a sound server running, a sound test that cannot reach it is a
  # failure; so is a missing compositor, which scripts/deps.sh installs.
  export ROUSTABELL_REQUIRE_SOUND=1 ROUSTABELL_REQUIRE_DESKTOP=1 ROUSTABELL_REQUIRE_DBUS=1
  export ROUSTABELL_REQUIRE_WAYLAND=1
}

stop_suite_services() {
  bash scripts/sound-server.sh stop >/dev/null 2>&1 || true
  bash scripts/desktop.sh stop >/dev/null || true
}
