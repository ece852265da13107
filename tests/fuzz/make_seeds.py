#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: a few realistic records and paths
each. Raw-input records use the 64-bit layout of the native build (8-byte handles).
Run from anywhere; rewrites tests/fuzz/corpus."""
import os
import shutil
import struct
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

USB_DEVICE_CLASS = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
USB_HUB_CLASS = "{f18a0e88-c30c-11d0-8815-00a0c906bed8}"
HID_CLASS = "{4d1e55b2-f16f-11cf-88cb-001111000030}"
LID_SWITCH = uuid.UUID("ba3e0f4d-b817-4094-a2d1-d56379e6a0f3")
MONITOR_POWER = uuid.UUID("02731015-4510-4526-99e6-e5a17ebd1aea")

PATHS = {
    "usb_device": "\\\\?\\USB#VID_1209&PID_0001#6&1a2b3c4d&0&2#" + USB_DEVICE_CLASS,
    "usb_interface": "\\\\?\\USB#VID_1209&PID_0001&MI_01#7&2c3d4e5f&0&0001#" + USB_DEVICE_CLASS,
    "lower_case": "\\\\?\\usb#vid_1209&pid_0001#6&1a2b3c4d&0&2#" + USB_DEVICE_CLASS,
    "root_hub": "\\\\?\\USB#ROOT_HUB30#4&3a1b2c3d&0&0#" + USB_HUB_CLASS,
    "long": "\\\\?\\USB#" + "X" * 236 + "#VID_1209&PID_0001#" + USB_DEVICE_CLASS,
}

NAMES = {
    "hid_collection": "\\\\?\\HID#VID_1209&PID_0001&MI_01&Col01#8&1f2e3d4c&0&0000#" + HID_CLASS,
    "hid_lower_case": "\\\\?\\hid#vid_1209&pid_0001&mi_00#7&2a1b3c4d&0&0000#" + HID_CLASS,
    "qualifier_first": "\\\\?\\HID#VID_1209&MI_01&PID_0001#7&2a1b3c4d&0&0000#" + HID_CLASS,
    "other_product": "\\\\?\\HID#VID_1209&PID_0002&MI_00#7&2a1b3c4d&0&0000#" + HID_CLASS,
    "acpi_keyboard": "\\\\?\\ACPI#PNP0303#4&1d1e8b5&0#{884b96c3-56ef-11d1-bc8c-00a0c91405dd}",
}


def raw_input(kind, payload):
    header = struct.pack("<IIQQ", kind, 24 + len(payload), 0x1F2E3D4C, 1)
    return header + payload


def hid(size_hid, reports):
    return raw_input(2, struct.pack("<II", size_hid, len(reports) // size_hid) + reports)


RAW_INPUT = {
    "mouse": raw_input(0, struct.pack("<HHIIiiI", 0, 1, 0, 0, 3, -2, 0)),
    "keyboard": raw_input(1, struct.pack("<HHHHII", 0x1E, 0, 0, 0x41, 0x100, 0)),
    "hid_request": hid(2, b"\x05\x01"),
    "hid_three_bytes": hid(3, b"\x05\x01\x00"),
    "hid_two_reports": hid(2, b"\x05\x01\x05\x02"),
    "hid_consumer": hid(3, b"\x02\xe9\x00"),
}


def broadcast(kind, body):
    return struct.pack("<III", 12 + len(body), kind, 0) + body


def interface(class_guid, name):
    return broadcast(5, uuid.UUID(class_guid).bytes_le + name.encode("utf-16-le") + b"\0\0")


BROADCASTS = {
    "usb_device": interface(USB_DEVICE_CLASS, PATHS["usb_device"]),
    "usb_hub": interface(USB_HUB_CLASS, PATHS["root_hub"]),
    "volume": broadcast(2, struct.pack("<IH", 1 << 4, 0)),
    "port": broadcast(3, "COM3".encode("utf-16-le") + b"\0\0"),
    "handle": broadcast(6, struct.pack("<QQ", 0x88, 0) + bytes(16) + struct.pack("<i", -1) + bytes(4)),
}


def setting(guid, data):
    return guid.bytes_le + struct.pack("<I", len(data)) + data


SETTINGS = {
    "lid_open": setting(LID_SWITCH, struct.pack("<I", 1)),
    "lid_closed": setting(LID_SWITCH, struct.pack("<I", 0)),
    "monitor_on": setting(MONITOR_POWER, struct.pack("<I", 1)),
    "lid_short": setting(LID_SWITCH, b"\x01"),
}


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        if isinstance(data, str):
            data = data.encode("ascii")
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


write("device_path", PATHS)
write("device_name", NAMES)
write("raw_input", RAW_INPUT)
write("interface_name", BROADCASTS)
write("lid_setting", SETTINGS)
