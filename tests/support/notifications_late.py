'''A notification server that answers Notify late.

Parameters: "delay" is milliseconds before Notify answers. Ids count up from
1 unless the call replaces one; CloseNotification is only logged.
'''
import dbus
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.Notifications'
MAIN_OBJ = '/org/freedesktop/Notifications'
MAIN_IFACE = 'org.freedesktop.Notifications'
SYSTEM_BUS = False

PARAMETERS = {}
LAST_ID = [0]


def load(mock, parameters):
    PARAMETERS.update(parameters)


@dbus.service.method(MAIN_IFACE, in_signature='susssasa{sv}i', out_signature='u',
                     async_callbacks=('reply', 'error'))
def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout, reply, error):
    if replaces == 0:
        LAST_ID[0] += 1
    answer = replaces or LAST_ID[0]

    def later():
        reply(dbus.UInt32(answer))
        return False

    GLib.timeout_add(int(PARAMETERS.get('delay', 0)), later)


@dbus.service.method(MAIN_IFACE, in_signature='u', out_signature='')
def CloseNotification(self, id):
    pass
