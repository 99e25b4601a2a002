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
    # Range and If-Range (a resumed file) are answered from the revalidated copy: 206 when
    # If-Range names that copy, the whole file with 200 when it changed.
    return (hash);
}

sub vcl_hash {
    # The whole URL, query string included: the manifest, its signature and every file differ
    # only there.
    hash_data(req.url);
    hash_data(req.http.host);
    return (lookup);
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
    # (`Cache-Control: no-cache`): kept a week, but stale after a millisecond (Varnish never
    # finds an object whose TTL is 0), so every request asks the origin with If-None-Match and
    # If-Modified-Since, and a 304 without a body refreshes the copy. No grace: never an old
    # release's bytes while the origin is asked.
    if (bereq.url ~ "^/gis/update/(list|signature|file)(\?|$)" || beresp.http.Cache-Control ~ "no-cache") {
        set beresp.ttl = 0.001s;
        set beresp.grace = 0s;
        set beresp.keep = 7d;
        return (deliver);
    }
    # Anything else the origin answers is not the launcher's: passed on, not kept.
    set beresp.uncacheable = true;
    return (deliver);
}
