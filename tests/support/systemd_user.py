'''A stand-in for the systemd user manager's transient timers.

Parameters: "refuseWake" true fails every timer that asks to wake the
machine, as systemd before 254 does: the unit is taken, and its start job
ends "failed". "left" names timers already in place, as a killed run
leaves them. Timers() lists the timers in place as JSON: their calendar
spec, WakeSystem, and the command line and environment of their service.
'''
import fnmatch
import json

import dbus
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.systemd1'
MAIN_OBJ = '/org/freedesktop/systemd1'
MAIN_IFACE = 'org.freedesktop.systemd1.Manager'
SYSTEM_BUS = False

PARAMETERS = {}
TIMERS = {}
JOBS = [0]


def load(mock, parameters):
    PARAMETERS.update(parameters)
    for name in parameters.get('left', []):
        TIMERS[name] = {'left': True}


def next_job():
    JOBS[0] += 1
    return (JOBS[0], dbus.ObjectPath('/org/freedesktop/systemd1/job/%d' % JOBS[0]))


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='')
def Subscribe(self):
    pass


@dbus.service.method(MAIN_IFACE, in_signature='ssa(sv)a(sa(sv))', out_signature='o')
def StartTransientUnit(self, name, mode, properties, aux):
    timer = dict((str(k), v) for k, v in properties)
    service = dict((str(k), v) for k, v in aux[0][1]) if aux else {}
    wake = bool(timer.get('WakeSystem', False))
    job, path = next_job()
    failed = wake and PARAMETERS.get('refuseWake', False)
    if not failed:
        TIMERS[str(name)] = {
            'calendar': [str(spec) for (_, spec) in timer.get('TimersCalendar', [])],
            'wake': wake,
            'accuracy': int(timer.get('AccuracyUSec', 0)),
            'argv': [str(a) for a in service['ExecStart'][0][1]],
            'environment': [str(e) for e in service.get('Environment', [])],
        }

    def finished():
        self.EmitSignal(MAIN_IFACE, 'JobRemoved', 'uoss',
                        [dbus.UInt32(job), path, name, 'failed' if failed else 'done'])
        return False

    GLib.idle_add(finished)
    return path


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o')
def StopUnit(self, name, mode):
    if str(name) not in TIMERS:
        raise dbus.exceptions.DBusException(
            'Unit %s not loaded.' % name, name='org.freedesktop.systemd1.NoSuchUnit')
    del TIMERS[str(name)]
    return next_job()[1]


@dbus.service.method(MAIN_IFACE, in_signature='asas', out_signature='a(ssssssouso)')
def ListUnitsByPatterns(self, states, patterns):
    matches = [n for n in TIMERS if any(fnmatch.fnmatchcase(n, p) for p in patterns)]
    return [(n, '', 'loaded', 'active', 'waiting', '', dbus.ObjectPath('/unit'),
             dbus.UInt32(0), '', dbus.ObjectPath('/')) for n in matches]


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='s')
def Timers(self):
    return json.dumps(TIMERS, sort_keys=True)
