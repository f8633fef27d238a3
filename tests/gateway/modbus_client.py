#!/usr/bin/python3
"""An independent Modbus TCP client: PORT, then read:UNIT:ADDRESS:COUNT or write:UNIT:ADDRESS:VALUE
each; prints a JSON object for each: registers, written, exception code or error."""
import json
import sys

from pymodbus.client import ModbusTcpClient

client = ModbusTcpClient("127.0.0.1", port=int(sys.argv[1]), timeout=5, retries=0)
if not client.connect():
    sys.exit("cannot connect")
for op in sys.argv[2:]:
    kind, unit, address, number = op.split(":")
    unit, address, number = int(unit), int(address), int(number)
    try:
        if kind == "read":
            reply = client.read_holding_registers(address, number, slave=unit)
        else:
            reply = client.write_register(address, number, slave=unit)
    except Exception as error:  # a lost connection, a timeout
        print(json.dumps({"error": str(error)}))
        continue
    if not reply.isError():
        print(json.dumps({"registers": reply.registers} if kind == "read" else {"written": True}))
    elif hasattr(reply, "exception_code"):
        print(json.dumps({"exception": reply.exception_code}))
    else:
        print(json.dumps({"error": str(reply)}))
client.close()
