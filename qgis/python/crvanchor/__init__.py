"""The CRVAnchor plugin: anchoring on every atlas move, the Anchor dock, the Processing provider."""


def classFactory(iface):
    from .plugin import CrvAnchorPlugin

    return CrvAnchorPlugin(iface)
