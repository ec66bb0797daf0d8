#!/bin/sh
# Runs a command against a throw-away desktop keyring: a private D-Bus session bus with an
# unlocked gnome-keyring-daemon whose files live in a temporary home folder, so the user's own
# keyring is never seen. The daemon and the bus are stopped when the command ends, whatever
# its outcome; the command's exit status is passed on.
set -eu

if [ -z "${QUORVANE_KEYRING_SESSION:-}" ]; then
  scratch=$(mktemp -d)
  # A helper process of the command (WebKit's web process writing its shader cache, say) can
  # outlive the command by a moment and write into the home folder while it is being removed:
  # try again for a while, and never let the clean-up change the command's exit status.
  remove_scratch() {
    tries=0
    until rm -rf "$scratch" 2>/dev/null; do
      tries=$((tries + 1))
      if [ "$tries" -gt 50 ]; then
        echo "with-keyring: could not remove $scratch" >&2
        break
      fi
      sleep 0.1
    done
    return 0
  }
  trap remove_scratch EXIT
  mkdir -m 700 "$scratch/home" "$scratch/run"
  # A session bus that can start no services: nothing but our daemon may answer for the
  # keyring, and an unlock prompt fails at once instead of looking for a display.
  cat >"$scratch/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$scratch/run</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  status=0
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
    QUORVANE_KEYRING_SESSION="$scratch" HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" \
    XDG_DATA_HOME="$scratch/home/.local/share" XDG_CONFIG_HOME="$scratch/home/.config" \
    XDG_CACHE_HOME="$scratch/home/.cache" \
    dbus-run-session --config-file="$scratch/session.conf" -- "$0" "$@" || status=$?
  exit "$status"
fi

# Inside the private session.
printf '%s' quorvane-test-password >"$QUORVANE_KEYRING_SESSION/password"
gnome-keyring-daemon --foreground --unlock --components=secrets \
  <"$QUORVANE_KEYRING_SESSION/password" >"$QUORVANE_KEYRING_SESSION/daemon.log" 2>&1 &
daemon=$!
stop_daemon() {
  kill "$daemon" 2>/dev/null || true
  wait "$daemon" 2>/dev/null || true
}
trap stop_daemon EXIT

# Wait until the daemon owns the Secret Service name.
tries=0
until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ] || ! kill -0 "$daemon" 2>/dev/null; then
    echo "with-keyring: gnome-keyring-daemon did not start" >&2
    cat "$QUORVANE_KEYRING_SESSION/daemon.log" >&2
    exit 1
  fi
  sleep 0.05
done

export QUORVANE_KEYRING_TEST=1
"$@"
