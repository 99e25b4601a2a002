# The Kestrun update endpoints through a Varnish cache, in front of an origin that serves a
# site written by kestrun-publish (deploy/nginx/kestrun.conf; see docs/deployment.md, "A CDN or
# object storage in front"). Replace
#   @KESTRUN_ORIGIN_HOST@   the origin's address, e.g. 127.0.0.1 or origin.example.com
#   @KESTRUN_ORIGIN_PORT@   its port, e.g. 8080
# deploy/varnish/run-local.sh fills both in for a private varnishd on loopback.
vcl 4.1;

backend origin {
    .host = "@KESTRUN_ORIGIN_HOST@";
    .port = "@KESTRUN_ORIGIN_PORT@";
}

sub vcl_recv {
    # Health reports are the origin's access log: every one reaches it, none is cached.
    if (req.url ~ "^/gis/update/health(\?|$)") {
        return (pass);
    }
    # Only GET and HEAD are kept; the launcher sends no credentials or cookies, so a request
    # that does is not one of its own.
    if ((req.method != "GET" && req.method != "HEAD") || req.http.Authorization || req.http.Cookie) {
        return (pass);
    }
    # Compressed copies and patches: the origin ignores a query string there, so it is dropped,
    # and one copy is kept per object whatever a client adds. Another spelling of the path (an
    # escaped character, a doubled slash) is passed, never kept beside it.
    if (req.url ~ "^/gis/update/object/") {
        set req.url = regsub(req.url, "\?.*$", "");
        if (req.url ~ "^/gis/update/object/[a-z0-9_-]+/[0-9a-f]{64}\.zst$") {
            return (hash);
        }
        return (pass);
    }
    # The manifest, its signature and the files are kept only in the forms the launcher asks
    # for (wire/server_endpoints.h; platform names as the origin accepts them); any other query
    # string is passed, so that junk parameters never make copies. A request never waits for
    # another one's fetch (it would be given bytes the origin sent before it arrived): each
    # makes its own request to the origin, a revalidation of the kept copy. Range and If-Range
    # (a resumed file) are answered from the revalidated copy: 206 when If-Range names that
    # copy, the whole file with 200 when it changed.
    if (req.url ~ "^/gis/update/(list|signature)\?platform=[a-z0-9_-]+$" ||
        req.url ~ "^/gis/update/file\?platform=[a-z0-9_-]+&path=[^&#]+$") {
        set req.hash_ignore_busy = true;
        return (hash);
    }
    return (pass);
}

sub vcl_hash {
    # The whole URL, query string included: the manifest, its signature and every file differ
    # only there. Not the Host header: an edge has one origin, and a client's Host must not
    # make copies of its own.
    hash_data(req.url);
    return (lookup);
}

sub vcl_hit {
    # A copy of the manifest, its signature or a file still fresh (within its microsecond) may
    # have been validated before this request came: the whole answer is fetched instead.
    if (req.url ~ "^/gis/update/(list|signature|file)\?") {
        return (pass);
    }
}

sub vcl_backend_response {
    # A refusal (404, 5xx) is passed on as the origin gave it and never kept: the next publish
    # may serve that URL.
    if (beresp.status >= 400) {
        set beresp.ttl = 0s;
        set beresp.uncacheable = true;
        return (deliver);
    }
    # Compressed copies and patches are named by their digest: kept a year, never asked again.
    if (bereq.url ~ "^/gis/update/object/") {
        set beresp.ttl = 365d;
        set beresp.grace = 0s;
        return (deliver);
    }
    # The manifest, its signature and the files change under their URL at a publish
    # (`Cache-Control: no-cache`): kept a week, but stale a microsecond after the origin's answer
    # (Varnish never finds an object whose TTL is 0, and a literal has at most three decimals),
    # so every request asks the origin with If-None-Match and If-Modified-Since, and a 304
    # without a body refreshes the copy. A request that still finds it fresh is passed
    # (vcl_hit). No grace: never an old release's bytes while the origin is asked, and a 503
    # while it cannot be.
    if (bereq.url ~ "^/gis/update/(list|signature|file)\?") {
        set beresp.ttl = 0.001s / 1000;
        set beresp.grace = 0s;
        set beresp.keep = 7d;
        return (deliver);
    }
    # Anything else the origin answers is not the launcher's: passed on, not kept.
    set beresp.uncacheable = true;
    return (deliver);
}
