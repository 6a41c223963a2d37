# Content-Length framing, as orvane-lsp and orvane-dap speak it, for the
# Python test clients (imported by path).
import io
import json


def frame(message):
    body = json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def read(stream):
    # The next message of a byte stream; RuntimeError when it ends first.
    header = b""
    while not header.endswith(b"\r\n\r\n"):
        c = stream.read(1)
        if not c:
            raise RuntimeError("the other end closed early")
        header += c
    n = int(header.split(b":")[1].split(b"\r")[0])
    return json.loads(stream.read(n))


def messages(data):
    # Every message of a whole output.
    stream = io.BytesIO(data)
    out = []
    while stream.tell() < len(data):
        out.append(read(stream))
    return out
