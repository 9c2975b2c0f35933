"""A small client of `ai-players serve`'s JSON API, for the bench scripts."""
import http.client
import json


def caller(port, timeout=600, conn=None):
    """call(method, path, body) -> the answer's JSON; raises on a status other than 2xx.
    With `conn`, every call goes over that one connection; else each opens its own."""
    def call(method, path, body=None):
        c = conn or http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
        c.request(method, path, body=json.dumps(body) if body is not None else "",
                  headers={"Content-Type": "application/json"})
        response = c.getresponse()
        data = json.loads(response.read())
        if response.status // 100 != 2:
            raise RuntimeError(f"{method} {path}: {response.status} {data}")
        return data
    return call
