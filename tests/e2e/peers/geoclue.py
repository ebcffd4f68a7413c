'''A python-dbusmock template of GeoClue2 with one client: what a location
request uses (the manager's accuracy, GetClient, the client's DesktopId, Start
and Stop), with every call in the mock's log.'''
import dbus

BUS_NAME = 'org.freedesktop.GeoClue2'
MAIN_OBJ = '/org/freedesktop/GeoClue2/Manager'
MAIN_IFACE = 'org.freedesktop.GeoClue2.Manager'
SYSTEM_BUS = True
CLIENT = '/org/freedesktop/GeoClue2/Client/1'


def load(mock, _parameters):
    mock.AddProperties(MAIN_IFACE, {'AvailableAccuracyLevel': dbus.UInt32(8), 'InUse': False})
    mock.AddMethod(MAIN_IFACE, 'GetClient', '', 'o', f'ret = dbus.ObjectPath("{CLIENT}")')
    mock.AddObject(CLIENT, 'org.freedesktop.GeoClue2.Client',
                   {'DesktopId': '', 'Active': False, 'RequestedAccuracyLevel': dbus.UInt32(0)},
                   [('Start', '', '', ''), ('Stop', '', '', '')])
