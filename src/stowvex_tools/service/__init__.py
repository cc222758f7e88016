"""The HTTP service of `stowvex serve` (the extra stowvex[service]).

Its modules, each for one concern:
  settings   the settings of a running service, sizes and the API key file
  command    the serve command's options
  server     uvicorn, the JSON logs and the graceful stop
  app        the routes (Starlette) and their query parameters
  gate       request ids, API keys, the body limit, the access log and the metrics
  workers    the packing processes and the bounded queue in front of them
  work       what a packing process does with a body
  jobs       batches in the background, and box catalogues for them
  metrics    the Prometheus metrics
  problems   the errors, as RFC 9457 problem documents
  openapi    the OpenAPI document and the offline documentation page
"""
