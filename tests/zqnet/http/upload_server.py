"""Accepts one multipart/form-data POST on loopback and stores the uploaded file's bytes.

Usage: upload_server.py OUTPUT_PATH
Prints the listening port on the first line of standard output, serves one request, exits.
The multipart body is split by hand on the boundary named in Content-Type, so the test checks
our encoder against an independent reading of the format.
"""

import http.server
import sys


def file_part(body: bytes, boundary: bytes) -> bytes:
    delimiter = b"--" + boundary
    parts = body.split(delimiter)
    # parts[0] is the preamble; the last part starts with "--" (the close delimiter).
    for part in parts[1:]:
        if part.startswith(b"--"):
            break
        head, sep, content = part.partition(b"\r\n\r\n")
        if not sep:
            raise ValueError("part without header end")
        if b'name="file"' not in head:
            continue
        # The CRLF before the next delimiter belongs to the delimiter, not the file.
        if not content.endswith(b"\r\n"):
            raise ValueError("part not followed by CRLF")
        return content[:-2]
    raise ValueError("no file part")


class Handler(http.server.BaseHTTPRequestHandler):
    output_path = ""

    def do_POST(self):
        content_type = self.headers.get("Content-Type", "")
        kind, _, params = content_type.partition(";")
        boundary = None
        for param in params.split(";"):
            key, _, value = param.strip().partition("=")
            if key == "boundary":
                boundary = value.strip('"').encode()
        length = int(self.headers.get("Content-Length", "-1"))
        if kind.strip() != "multipart/form-data" or not boundary or length < 0:
            self.send_error(400)
            return
        body = self.rfile.read(length)
        try:
            data = file_part(body, boundary)
        except ValueError as error:
            self.send_error(400, str(error))
            return
        with open(self.output_path, "wb") as out:
            out.write(data)
        answer = b"<CGI_Result><result>0</result></CGI_Result>"
        self.send_response(200)
        self.send_header("Content-Length", str(len(answer)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *args):
        pass


def main():
    Handler.output_path = sys.argv[1]
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    server.timeout = 20
    print(server.server_address[1], flush=True)
    server.handle_request()
    server.server_close()


if __name__ == "__main__":
    main()
