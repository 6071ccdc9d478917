'''A power manager stand-in with scheduled wake-ups.

Parameters: "delay" and "clearDelay" are milliseconds before scheduleWakeup
and clearWakeup answer; "refused" true makes every scheduleWakeup fail.
'''
import dbus
from gi.repository import GLib

BUS_NAME = 'org.kde.Solid.PowerManagement'
MAIN_OBJ = '/org/kde/Solid/PowerManagement'
MAIN_IFACE = 'org.kde.Solid.PowerManagement'
SYSTEM_BUS = False

PARAMETERS = {}
LAST_COOKIE = [40]


def load(mock, parameters):
    PARAMETERS.update(parameters)


@dbus.service.method(MAIN_IFACE, in_signature='sot', out_signature='u',
                     async_callbacks=('reply', 'error'))
def scheduleWakeup(self, service, path, timestamp, reply, error):
    if PARAMETERS.get('refused'):
        error(dbus.exceptions.DBusException('Not allowed',
                                            name='org.freedesktop.DBus.Error.AccessDenied'))
        return
    LAST_COOKIE[0] += 1
    cookie = LAST_COOKIE[0]

    def answer():
        reply(dbus.types.UInt32(cookie))
        return False

    GLib.timeout_add(int(PARAMETERS.get('delay', 0)), answer)


@dbus.service.method(MAIN_IFACE, in_signature='i', out_signature='',
                     async_callbacks=('reply', 'error'))
def clearWakeup(self, cookie, reply, error):
    def answer():
        reply()
        return False

    GLib.timeout_add(int(PARAMETERS.get('clearDelay', 0)), answer)
