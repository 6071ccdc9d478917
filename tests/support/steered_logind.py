'''A login manager stand-in whose answers the test steers.

Parameters: "delays" maps a reason to milliseconds before its lock is handed
out; "refused" lists reasons whose Inhibit is refused. Granted locks are
listed by ListInhibitors until every copy of their descriptor is closed.
'''
import os

import dbus
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.login1'
MAIN_OBJ = '/org/freedesktop/login1'
MAIN_IFACE = 'org.freedesktop.login1.Manager'
SYSTEM_BUS = True

HELD = []
PARAMETERS = {}


def load(mock, parameters):
    PARAMETERS.update(parameters)


@dbus.service.method(MAIN_IFACE, in_signature='ssss', out_signature='h',
                     async_callbacks=('reply', 'error'))
def Inhibit(self, what, who, why, mode, reply, error):
    if why in PARAMETERS.get('refused', []):
        error(dbus.exceptions.DBusException('Permission denied',
                                            name='org.freedesktop.DBus.Error.AccessDenied'))
        return

    def grant():
        fd_r, fd_w = os.pipe()
        entry = (str(what), str(who), str(why), str(mode))
        HELD.append(entry)

        def dropped(fd, cond):
            os.close(fd)
            HELD.remove(entry)
            return False

        GLib.unix_fd_add_full(GLib.PRIORITY_HIGH, fd_r, GLib.IO_HUP, dropped)
        reply(dbus.types.UnixFd(fd_w))
        os.close(fd_w)
        return False

    GLib.timeout_add(int(PARAMETERS.get('delays', {}).get(why, 0)), grant)


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='a(ssssuu)')
def ListInhibitors(self):
    return [(w, o, y, m, dbus.UInt32(0), dbus.UInt32(0)) for (w, o, y, m) in HELD]
