#!/usr/bin/env python3
"""Builds resources/ from ../a_healthy: the same machine (names, readings,
states) as current bmcweb shows it. Run from this folder."""
import json, os, shutil

OLD = '../a_healthy'
V1 = '/redfish/v1'
CH = V1 + '/Chassis/chassis'

def load(name):
    with open(os.path.join(OLD, name)) as f:
        return json.load(f)

def write(path, doc):
    rel = path[len(V1):].lstrip('/')
    file = os.path.join('resources', rel, 'index.json') if doc.get('Members') is not None or rel == '' \
        else os.path.join('resources', rel + '.json')
    os.makedirs(os.path.dirname(file), exist_ok=True)
    with open(file, 'w') as f:
        f.write(json.dumps(doc, indent=2, sort_keys=True, ensure_ascii=True))

def collection(path, type_, name, members):
    write(path, {'@odata.id': path, '@odata.type': type_, 'Members': [{'@odata.id': m} for m in sorted(members)],
                 'Members@odata.count': len(members), 'Name': name})

def threshold(entry, old, new, out):
    if old in entry:
        out.setdefault('Thresholds', {})[new] = {'Reading': float(entry[old])}

def sensor(kind, reading_type, units, entry, reading, lo, hi):
    sid = kind + '_' + entry['Name'].replace(' ', '_')
    doc = {'@odata.id': CH + '/Sensors/' + sid, '@odata.type': '#Sensor.v1_2_0.Sensor', 'Id': sid,
           'Name': entry['Name'], 'Reading': reading, 'ReadingType': reading_type, 'ReadingUnits': units,
           'Status': entry['Status']}
    if lo in entry: doc['ReadingRangeMin'] = float(entry[lo])
    if hi in entry: doc['ReadingRangeMax'] = float(entry[hi])
    for old, new in [('LowerThresholdCritical', 'LowerCritical'), ('LowerThresholdNonCritical', 'LowerCaution'),
                     ('UpperThresholdCritical', 'UpperCritical'), ('UpperThresholdNonCritical', 'UpperCaution')]:
        threshold(entry, old, new, doc)
    write(doc['@odata.id'], doc)
    return doc['@odata.id']

shutil.rmtree('resources', ignore_errors=True)
write(V1, {'@odata.id': V1, '@odata.type': '#ServiceRoot.v1_15_0.ServiceRoot', 'Id': 'RootService',
           'Name': 'Root Service', 'RedfishVersion': '1.17.0', 'UUID': '4a3f7c52-8d21-4c6e-9b0a-6f1e2d3c4b5a',
           'Chassis': {'@odata.id': V1 + '/Chassis'}, 'Systems': {'@odata.id': V1 + '/Systems'},
           'Managers': {'@odata.id': V1 + '/Managers'},
           'SessionService': {'@odata.id': V1 + '/SessionService'},
           'Links': {'Sessions': {'@odata.id': V1 + '/SessionService/Sessions'}},
           'ProtocolFeaturesSupported': {'DeepOperations': {'DeepPATCH': False, 'DeepPOST': False},
                                         'ExcerptQuery': False,
                                         'ExpandQuery': {'ExpandAll': True, 'Levels': True, 'Links': True,
                                                         'MaxLevels': 6, 'NoLinks': True},
                                         'FilterQuery': False, 'OnlyMemberQuery': True, 'SelectQuery': True}})
collection(V1 + '/Systems', '#ComputerSystemCollection.ComputerSystemCollection', 'Computer System Collection',
           [V1 + '/Systems/system'])
write(V1 + '/Systems/system', {'@odata.id': V1 + '/Systems/system', '@odata.type': '#ComputerSystem.v1_22_0.ComputerSystem',
                               'Id': 'system', 'Name': 'system', 'Storage': {'@odata.id': V1 + '/Systems/system/Storage'},
                               'Status': {'State': 'Enabled'}})
collection(V1 + '/Systems/system/Storage', '#StorageCollection.StorageCollection', 'Storage Collection',
           [V1 + '/Systems/system/Storage/storage0'])
old_storage = load('storage.json')
write(V1 + '/Systems/system/Storage/storage0',
      {'@odata.id': V1 + '/Systems/system/Storage/storage0', '@odata.type': '#Storage.v1_13_0.Storage',
       'Controllers': {'@odata.id': V1 + '/Systems/system/Storage/storage0/Controllers'},
       'Drives': [{'@odata.id': V1 + '/Systems/system/Storage/storage0/Drives/Drive_%d' % i} for i in range(1, 9)],
       'Drives@odata.count': 8, 'Id': 'storage0', 'Name': old_storage['Name'],
       'Status': {'State': old_storage['Status']['State']}})
collection(V1 + '/Chassis', '#ChassisCollection.ChassisCollection', 'Chassis Collection', [CH])
write(CH, {'@odata.id': CH, '@odata.type': '#Chassis.v1_22_0.Chassis', 'ChassisType': 'RackMount', 'Id': 'chassis',
           'Name': 'chassis', 'PowerState': 'On', 'Sensors': {'@odata.id': CH + '/Sensors'},
           'PowerSubsystem': {'@odata.id': CH + '/PowerSubsystem'},
           'ThermalSubsystem': {'@odata.id': CH + '/ThermalSubsystem'},
           'Status': {'Health': 'OK', 'State': 'Enabled'}})
power, thermal = load('power.json'), load('thermal.json')
sensors = [sensor('voltage', 'Voltage', 'V', v, v['ReadingVolts'], 'MinReadingRange', 'MaxReadingRange')
           for v in power['Voltages']]
sensors += [sensor('temperature', 'Temperature', 'Cel', t, t['ReadingCelsius'], 'MinReadingRangeTemp',
                   'MaxReadingRangeTemp') for t in thermal['Temperatures']]
for name in ['total_power.json', 'peak_power.json']:
    doc = load(name)
    sid = 'power_' + doc['Id']
    doc['@odata.id'], doc['Id'] = CH + '/Sensors/' + sid, sid
    write(doc['@odata.id'], doc)
    sensors.append(doc['@odata.id'])
fans = []
for f in thermal['Fans']:
    rpm = f['ReadingUnits'] == 'RPM'
    sensors.append(sensor('fan_tach' if rpm else 'fan_pwm', 'Rotational' if rpm else 'Percent', 'RPM' if rpm else '%',
                          f, float(f['Reading']), 'MinReadingRange', 'MaxReadingRange'))
    fid = f['Name'].replace(' ', '_')
    speed = {'DataSourceUri': sensors[-1]}
    speed['SpeedRPM' if rpm else 'Reading'] = float(f['Reading'])
    path = CH + '/ThermalSubsystem/Fans/' + fid
    write(path, {'@odata.id': path, '@odata.type': '#Fan.v1_5_0.Fan', 'Id': fid, 'Name': f['Name'],
                 'SpeedPercent': speed, 'Status': f['Status']})
    fans.append(path)
collection(CH + '/Sensors', '#SensorCollection.SensorCollection', 'Sensors', sensors)
write(CH + '/ThermalSubsystem', {'@odata.id': CH + '/ThermalSubsystem',
                                 '@odata.type': '#ThermalSubsystem.v1_3_0.ThermalSubsystem',
                                 'Fans': {'@odata.id': CH + '/ThermalSubsystem/Fans'}, 'Id': 'ThermalSubsystem',
                                 'Name': 'Thermal Subsystem', 'Status': {'Health': 'OK', 'State': 'Enabled'}})
collection(CH + '/ThermalSubsystem/Fans', '#FanCollection.FanCollection', 'Fan Collection', fans)
