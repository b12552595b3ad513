#!/usr/bin/env python3
"""Writes a fleet-sized topology for quarlen-emu: H HBAs, E expanders of both
generations cascaded behind them, and D drives per HBA (SAS and SATA on
expander phys, SAS and SATA direct on the HBA's own phys, NVMe on its PCIe
links). Every SAS or SATA drive gets the next /dev/sd name.

    emu/topology/generate-fleet.py --hbas 2 --expanders 30 --drives 1024 > fleet.json

Each HBA gets E/H expanders: up to four roots on wide ports of four HBA phys,
the rest cascaded two phys wide below the roots in turn. Drives fill the
expanders' free physical phys first (the last three phys are virtual), then
the HBA phys the ports leave free, then the four PCIe links. The emulated
expander chips map at most 52 phys; a request for more drives than the
layout holds is refused.
"""
import argparse
import json
import sys

MAX_EXPANDER_PHYS = 52
VIRTUAL_PHYS = 3
HBA_PHYS = 64
ROOTS_PER_HBA = 4
PORT_WIDTH_ROOT = 4
PORT_WIDTH_CASCADE = 2
NVME_LINKS = 4
# Alternating generations: a second-generation and a first-generation chip.
FAMILIES = [10, 3]  # QX2-S48, QX-S36


def hexa(value):
    return "0x%016X" % value


def hba_wwid(h):
    return 0x53C2A1F000100000 + (h << 16)


def expander_sas(h, e):
    return 0x53C2A1F000400000 + (h << 12) + (e << 4)


def build(hbas, expanders, drives, phys):
    if hbas < 1 or hbas > 8:
        sys.exit("--hbas must be 1..8")
    if expanders < hbas or expanders > 240:
        sys.exit("--expanders must be at least one per HBA and at most 240")
    if phys < 12 or phys > MAX_EXPANDER_PHYS:
        sys.exit("--phys must be 12..%d" % MAX_EXPANDER_PHYS)
    scsi_expanders, adapters, listing = [], [], []
    sg = 0
    for h in range(hbas):
        count = expanders // hbas + (1 if h < expanders % hbas else 0)
        roots = min(ROOTS_PER_HBA, count)
        wwid = hba_wwid(h)
        # Per expander: phy -> attached, and the next free phy.
        nodes = []
        for e in range(count):
            family = FAMILIES[(len(scsi_expanders) + e) % 2]
            nodes.append({"sas": expander_sas(h, e), "family": family, "attached": {}})
        for r in range(roots):
            for p in range(PORT_WIDTH_ROOT):
                nodes[r]["attached"][p] = {"sasAddress": hexa(wwid), "type": "initiator",
                                           "phy": r * PORT_WIDTH_ROOT + p, "rate": "12.0"}
        for c in range(roots, count):
            parent = nodes[(c - roots) % roots]
            base = next(p for p in range(phys - VIRTUAL_PHYS) if p not in parent["attached"])
            for p in range(PORT_WIDTH_CASCADE):
                parent["attached"][base + p] = {"sasAddress": hexa(nodes[c]["sas"]),
                                                "type": "expander", "phy": p, "rate": "12.0"}
                nodes[c]["attached"][p] = {"sasAddress": hexa(parent["sas"]),
                                           "type": "expander", "phy": base + p, "rate": "12.0"}
        # Drive slots in order: expander phys, HBA phys, PCIe links.
        slots = []
        for n in nodes:
            slots += [(n, p) for p in range(phys - VIRTUAL_PHYS) if p not in n["attached"]]
        direct = list(range(roots * PORT_WIDTH_ROOT, HBA_PHYS))
        capacity = len(slots) + len(direct) + NVME_LINKS
        if drives > capacity:
            sys.exit("%d drives per HBA do not fit: %d expanders give room for %d"
                     % (drives, count, capacity))
        nvme = max(0, min(NVME_LINKS, drives - len(slots) - len(direct)))
        nvme = max(nvme, 1 if drives >= 16 else 0)
        on_expanders = min(len(slots), drives - nvme)
        on_hba = drives - nvme - on_expanders
        for i, (n, p) in enumerate(slots[:on_expanders]):
            # One drive in four is SATA.
            sata = i % 4 == 3
            address = (0x53C2A1F800000000 if sata else 0x5000C50000000000) + (h << 20) + i
            n["attached"][p] = {"sasAddress": hexa(address), "type": "sata" if sata else "end",
                                "rate": "6.0" if sata else "12.0"}
        devices = []
        for i, p in enumerate(direct[:on_hba]):
            devices.append({"phy": p, "type": "sata" if i % 4 == 3 else "sas",
                            "sasAddress": hexa(0x5000C50100000000 + (h << 20) + i)})
        for e, n in enumerate(nodes):
            entries = [{"phy": p, "attached": a} for p, a in sorted(n["attached"].items())]
            scsi_expanders.append({
                "sg": sg, "hctl": [10 + h, 0, e, 0], "sasAddress": hexa(n["sas"]),
                "family": n["family"], "phyCount": phys,
                "serial": "QF%02d%04d" % (h, e), "phys": entries})
            listing.append(sg)
            sg += 1
        adapters.append({
            "node": "/dev/xol3ctl", "ioc": h, "deviceId": "0x0630", "revision": 1,
            "wwid": hexa(wwid), "phys": HBA_PHYS, "boardTracer": "QTF%02d" % h,
            "pci": {"bus": 0x10 + h, "device": 0, "function": 0}, "scsiId": h,
            "links": [{"phys": list(range(r * PORT_WIDTH_ROOT, (r + 1) * PORT_WIDTH_ROOT)),
                       "expander": hexa(nodes[r]["sas"]), "firstExpanderPhy": 0}
                      for r in range(roots)],
            "devices": devices,
            "nvme": [{"link": k, "wwid": hexa(wwid + 0x100 + k), "product": "QN1600 NVMe"}
                     for k in range(nvme)],
            "faults": []})
    return {
        "description": "fleet: %d HBAs, %d expanders, %d drives per HBA (generate-fleet.py)"
                       % (hbas, expanders, drives),
        "scsi": {"listing": listing, "expanders": scsi_expanders},
        "controllers": {"adapters": adapters}}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hbas", type=int, default=2)
    parser.add_argument("--expanders", type=int, default=30)
    parser.add_argument("--drives", type=int, default=1024, help="drives per HBA")
    parser.add_argument("--phys", type=int, default=MAX_EXPANDER_PHYS,
                        help="phys per expander (the last three virtual)")
    args = parser.parse_args()
    json.dump(build(args.hbas, args.expanders, args.drives, args.phys), sys.stdout, indent=1)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
